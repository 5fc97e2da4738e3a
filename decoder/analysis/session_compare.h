// Two sessions of one job compared: where the second run stood still or
// stopped and the first did not, and what was different just before.
//
// Each run is read once through the findings engine and its motion model
// (RunProfile); of every stored segment it keeps a compact key (a hash of
// NBR, S1 to S5 and CMD, signs included), its arrival and what came just
// before it (the PC's longest silence, the longest reply, the refusals),
// some 26 bytes; of the motion only its stand-stills and stops, and the
// whole-run figures in fixed tables.
//
// The two runs are aligned by their keys with an O(ND) difference (Myers',
// in linear space), which gives up once the edits pass half the segments
// of both runs: such runs share less than half their segments. The share
// aligned is the matched segments over the larger count; below half the
// runs are different jobs and only their whole-run figures are compared.
//
// The differences, most telling first:
//   - a stop in one run with none within one aligned segment of its place
//     in the other;
//   - a stand-still of 20 ms or more with none within one aligned segment
//     of its place in the other, or one at least twice as long and 100 ms
//     longer than the longest there;
//   - findings outside the motion (no reply, refused, slow replies, a
//     changed resend), by their counts for each cause;
//   - the segments whose content differs (one replaced by another).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "analysis/findings.h"
#include "analysis/time_histogram.h"
#include "capture/source.h"

namespace vornlog::compare {

// A stand-still of one run: the stored segment whose arrival ended it, when
// the buffer ran dry and how long the machine stood (ns since the run's
// first message with a time), and the cause of its underrun finding.
struct StandStill {
    std::uint64_t segment = 0;
    bool timed = false;
    std::int64_t dry = 0;
    std::int64_t stood = 0;
    findings::Cause cause = findings::Cause::Unknown;
};

// A stop of one run: the segment under way, its moment and cause.
struct Stop {
    std::uint64_t segment = 0;
    bool timed = false;
    std::int64_t at = 0;
    findings::Cause cause = findings::Cause::Unknown;
};

// What came between the segment before and this one's arrival.
struct LeadUp {
    // The PC's longest silence after a controller message, the longest
    // reply, in microseconds (held at 2^32 - 1).
    std::uint32_t silenceUs = 0;
    std::uint32_t replyUs = 0;
    // "buffer full" replies and refusals.
    std::uint16_t refusals = 0;
};

// A run's whole figures.
struct Figures {
    std::uint64_t records = 0;
    std::uint64_t segments = 0;
    bool timed = false;
    std::int64_t duration = 0; // first to last message with a time
    int digits = 0;            // the decimals of the capture's times
    std::int64_t stood = 0;    // every stand-still summed
    std::uint64_t standStills = 0;
    std::uint64_t bufferFull = 0;
    std::array<std::uint64_t, findings::kKinds> kinds{};
    std::array<std::uint64_t, findings::kCauses> causes{};
};

// A stored segment as the comparison's page shows it: the Data message
// that sent it and what it holds (CMD, NBR, the steps with their signs).
struct SegmentShown {
    std::uint64_t number = 0;
    unsigned cmd = 0;
    std::int32_t nbr = 0;
    std::int32_t steps[5]{};
};

// One run read record by record.
class RunProfile {
public:
    explicit RunProfile(bool textDump);
    ~RunProfile();
    RunProfile(const RunProfile&) = delete;
    RunProfile& operator=(const RunProfile&) = delete;

    // Keeps each stored segment's SegmentShown too (for the page), some
    // 36 bytes more a segment; asked before the first record.
    void keepShown() { keepShown_ = true; }
    void feed(const CaptureRecord& record);
    // The end of the capture: what the engine still held is told.
    void finish();

    std::span<const std::uint64_t> keys() const { return keys_; }
    // The arrival of stored segment k (from 1), ns since the first time;
    // none without times.
    std::optional<std::int64_t> arrival(std::uint64_t k) const;
    const LeadUp& leadUp(std::uint64_t k) const { return leadUps_[k - 1]; }
    // Each stored segment's SegmentShown, when kept.
    const std::vector<SegmentShown>& shown() const { return shown_; }
    const std::vector<StandStill>& standStills() const { return stills_; }
    const std::vector<Stop>& stops() const { return stops_; }
    const Figures& figures() const { return figures_; }
    const TimeHistogram& replies() const { return *replies_; }
    const TimeHistogram& silences() const { return *silences_; }

private:
    void finding(const findings::Finding& f);

    std::vector<std::uint64_t> keys_;
    std::vector<std::int64_t> arrivals_;
    std::vector<LeadUp> leadUps_;
    bool keepShown_ = false;
    std::vector<SegmentShown> shown_;
    LeadUp next_;
    std::vector<StandStill> stills_;
    std::size_t stillsWithoutCause_ = 0;
    std::vector<Stop> stops_;
    // The stops the blocks showed (message number, segment under way),
    // waiting for their findings.
    struct StopSeen {
        std::uint64_t number;
        std::uint64_t segment;
    };
    std::vector<StopSeen> stopsSeen_;
    Figures figures_;
    std::unique_ptr<TimeHistogram> replies_;
    std::unique_ptr<TimeHistogram> silences_;
    bool haveOrigin_ = false;
    TimeNs origin_ = 0;
    TimeNs last_ = 0;
    bool controllerSpoke_ = false;
    bool controllerTimed_ = false;
    TimeNs controllerAt_ = 0;
    std::unique_ptr<ValueSink> message_;
    findings::Engine engine_;
};

// The alignment of two key sequences: for each of b's elements the index
// of its match in a, or -1.
struct Alignment {
    std::vector<std::int32_t> aOfB;
    std::uint64_t matched = 0;
    // The difference gave up (or the keys shared too few to try): `matched`
    // is then a bound the matches cannot pass.
    bool gaveUp = false;
};

Alignment align(std::span<const std::uint64_t> a, std::span<const std::uint64_t> b);

enum class Side : std::uint8_t { Before, After, Both };

struct Difference {
    enum class What : std::uint8_t { Only, Longer, Count, ChangedSegment };
    What what = What::Only;
    findings::Kind kind = findings::Kind::Underrun;
    findings::Cause cause = findings::Cause::Unknown;
    Side in = Side::After;
    // The segment in the run named by `in` (after's for Both), and the
    // other run's at that place; 0: none.
    std::uint64_t segment = 0;
    std::uint64_t otherSegment = 0;
    // A stand-still's time stood, and the longest at its place in the
    // other run (Longer).
    bool hasStood = false;
    std::int64_t stood = 0;
    bool hasOtherStood = false;
    std::int64_t otherStood = 0;
    // Each run's time at that place.
    std::optional<std::int64_t> at[2];
    // What came just before, in each run (the segments up to that place).
    std::optional<LeadUp> leadUp[2];
    // Count: each run's findings of that kind and cause.
    std::uint64_t count[2]{};
};

struct Comparison {
    std::uint64_t segments[2]{};
    std::uint64_t matched = 0;
    bool matchedAtMost = false;
    double share = 0;
    bool sameJob = false;
    std::vector<Difference> differences;
    // For each of AFTER's segments, the index of its match in BEFORE, or
    // -1 (all -1 when the runs were not aligned).
    std::vector<std::int32_t> aOfB;
    // Whether any difference is one of the motion (a stand-still or a stop).
    bool motionDiffers = false;
};

// The comparison of two runs read to their end.
Comparison compareRuns(const RunProfile& before, const RunProfile& after);

// A bit for each kind (1 << Kind) of which AFTER has a finding that BEFORE
// has not at the same place (of different jobs: more of them).
unsigned newInAfter(const Comparison& c, const RunProfile& before, const RunProfile& after);

} // namespace vornlog::compare
