// The parts of the session summary. Each is fed every record of the capture
// with the one decoding of its message (the instruction, the fields' values
// and the kinds of its error texts), keeps fixed tables, and writes its
// section of the page at the end:
//
//   CaptureCounts  records read, messages, lines passed over    "Capture"
//   Replies        PC messages and their replies, reply times   "Messages"
//   ErrorCensus    the error texts the report writes            "Errors"
//   MotionTally    the stream of Data segments, fill, stops     "Motion stream"
//   Timing         the capture's clock and the Data gaps        "Timing"
//   FindingList    the findings of the engine (analysis/)       "Findings"
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "analysis/findings.h"
#include "analysis/message_facts.h"
#include "analysis/pairing.h"
#include "analysis/segments.h"
#include "analysis/time_histogram.h"
#include "capture/capture.h"
#include "capture/source.h"
#include "base/out.h"
#include "page.h"
#include "protocol/values.h"

namespace vornlog::summary {

// One record as every part sees it.
struct Tapped {
    const CaptureRecord& record;
    // Its message decoded, for a record that holds one.
    const FieldValues& message;
    // Its time, when it has one written as the capture's first time is.
    bool timed = false;
    TimeNs ns = 0;
    // Its pairing and segment among the messages the parts see, for a
    // record that holds a message.
    const MessageFacts* facts = nullptr;
};

class CaptureCounts {
public:
    // `kept`: the instructions a source that leaves the others out (-i)
    // gives, empty when it gives every message. The messages left out are
    // counted here, and seen by no other part.
    CaptureCounts(bool textDump, std::string kept) : textDump_(textDump), kept_(std::move(kept)) {}
    // Whether the other parts see record `t` (before its decoding).
    bool add(const Tapped& t);
    void interruptedAfter(std::uint64_t record) { interruptedAfter_ = record; }
    void write(Out& out, std::string_view name, std::string_view format, std::string_view fault) const;
    std::uint64_t messages() const { return messages_; }

private:
    bool textDump_;
    std::string kept_;
    // Reading was interrupted after this line or packet (0: it was not).
    std::uint64_t interruptedAfter_ = 0;
    std::uint64_t records_ = 0;
    std::uint64_t leftOut_ = 0;
    std::uint64_t messages_ = 0;
    std::uint64_t skipped_ = 0;
    std::uint64_t short_ = 0;
    // Messages on lines of 40 characters or fewer, which the report passes
    // over.
    Occurrences shortMessages_;
    Occurrences shortLookingLikeMessages_;
    std::uint64_t withoutField_ = 0;
};

// Messages by instruction code and direction, the PC messages without a
// reply, the controller messages that answer nothing, and the reply times.
class Replies {
public:
    explicit Replies(bool textDump) : textDump_(textDump) {}
    void add(const Tapped& t);
    // The end of the capture: the last PC message, if it still waited
    // (`unanswered`), got no reply.
    void finish(const std::optional<RequestPairing::Request>& unanswered);
    void write(Out& out) const;
    // The reply times of `code`; null when none had a time.
    const TimeHistogram* times(std::uint8_t code) const
    {
        const TimeHistogram* kept = engine_ ? engine_->replyTimes(code) : nullptr;
        return kept ? kept : times_[code].get();
    }
    // The findings engine, fed the same messages, keeps the reply times of
    // the instructions that have a reply to decode: they are read there
    // instead of counted twice.
    void readTimesFrom(const findings::Engine& engine) { engine_ = &engine; }

private:
    struct CodeCounts {
        std::uint64_t messages[2]{}; // PC, controller
        Occurrences noReply;         // PC messages of this code without a reply
        Occurrences answersNothing;  // controller messages of this code that answer nothing
    };
    void writeOccurrences(Out& out, Occurrences CodeCounts::* what) const;

    bool textDump_;
    // The time of the last PC message, which a reply answers (in the
    // summary's own terms: written as the capture's first time is).
    bool lastRequestTimed_ = false;
    TimeNs lastRequestNs_ = 0;
    CodeCounts codes_[256];
    // Made for a code when its first reply time comes (of the codes of no
    // instruction only, when the engine keeps the others).
    std::unique_ptr<TimeHistogram> times_[256];
    const findings::Engine* engine_ = nullptr;
};

// The error texts that the report writes, by instruction, direction and
// kind, with the first place of each.
class ErrorCensus {
public:
    explicit ErrorCensus(bool textDump) : textDump_(textDump) {}
    void add(const Tapped& t);
    void write(Out& out) const;

private:
    struct Count {
        int side = 0;
        std::uint8_t code = 0;
        const ErrorKind* kind = nullptr;
        std::uint64_t count = 0;
        std::uint64_t first = 0;
    };
    static constexpr std::size_t kKinds = 64;

    bool textDump_;
    std::array<Count, kKinds> counts_{};
    std::size_t kinds_ = 0;
    std::uint64_t others_ = 0;
};

// The stream of motion segments: what was sent, stored, refused and sent
// again, the pulses and the final position, the buffer fill, the Stop
// commands and the stops that the controller reported.
class MotionTally {
public:
    void add(const Tapped& t);
    // `where`: the position reached, which the findings estimate.
    void write(Out& out, const findings::Position& where) const;

private:
    void data(const Tapped& t);
    void stopState(std::uint8_t state);
    void fill(int buf);
    // The controller refused the last Data message sent: the next
    // one may send it again.
    void refused() { refusedOpen_ = haveSent_; }

    std::uint64_t sent_ = 0, stored_ = 0, bufferFull_ = 0, notUsbMode_ = 0, otherStatus_ = 0, storedUnknown_ = 0;
    std::uint64_t resent_ = 0, endSent_ = 0, endStored_ = 0, segmentsStored_ = 0;
    std::int64_t pulses_ = 0;
    std::int64_t position_[5]{};
    bool haveSent_ = false, refusedOpen_ = false;
    std::uint64_t fills_ = 0, fillSum_ = 0;
    int fillLeast_ = 0, fillMost_ = 0;
    std::uint64_t stopCommands_[256]{};
    std::uint8_t stopState_ = 0;
    std::uint64_t stopReasons_[8]{};
};

// The capture's clock: the first time sets the form, and a time written
// another way is none; the start, the end, and the longest gaps between
// one Data message and the next.
class Timing {
public:
    explicit Timing(bool textDump) : textDump_(textDump) {}
    // The time of `record` in the capture's form; false for none.
    bool time(const CaptureRecord& record, TimeNs& ns);
    void add(const Tapped& t);
    void write(Out& out, std::uint64_t messages, const Replies& replies) const;

private:
    struct Gap {
        std::int64_t ns = 0;
        std::uint64_t from = 0;
        std::uint64_t to = 0;
    };
    void gap(const Gap& g);
    std::string stamp(TimeNs ns) const;

    bool textDump_;
    TimeForm form_ = TimeForm::None;
    int fractionDigits_ = 0;
    TimeNs start_ = 0, end_ = 0;
    bool dataTimed_ = false;
    TimeNs lastDataNs_ = 0;
    std::uint64_t lastDataAt_ = 0;
    std::array<Gap, 5> gaps_{};
    std::size_t gapCount_ = 0;
};

// The findings as they are made: their counts by kind and cause, and the
// first kShown of them in the order they were complete (the order -e writes
// them in).
class FindingList {
public:
    // The findings listed: the heaviest (stops, then underruns, unanswered
    // messages, refusals, the rest; of one weight the earliest), in the
    // order of their start. The others are counted by kind.
    static constexpr std::size_t kShown = 20;

    explicit FindingList(bool textDump) : textDump_(textDump) {}
    void add(const findings::Finding& f);
    void write(Out& out) const;

private:
    bool textDump_;
    std::uint64_t total_ = 0;
    std::uint64_t byCause_[findings::kCauses]{};
    // The kShown heaviest so far, in no order.
    std::array<findings::Finding, kShown> shown_{};
};

} // namespace vornlog::summary
