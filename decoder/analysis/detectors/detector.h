// What the detectors of findings share. The engine (analysis/findings.cpp)
// feeds each detector every message with its decoding, its facts and the
// motion model; a detector tells the desk each episode it sees, and the
// desk numbers the findings, words their places and groups the episodes of
// one cause into bursts.
//
// A detector is a class built on the desk (`explicit D(Desk&)`) with
//   void message(const Message&)        every message, in order
// and, when it needs them,
//   void motion(const Message&)         the same message once every detector
//                                       has read it: what the model made of it
//   bool holding() const                a finding of its own waits for a next
//                                       episode (grouped by itself, not by the
//                                       desk's bursts)
//   const Moment* due(const Moment* now) const
//                                       that finding, when complete at `now`
//                                       (at the end: null): its last episode's
//                                       end
//   void emitDue()                      reports it
//   void live(const Moment& now)        live: the capture's clock got to `now`
//   void finish()                       the end of the capture
// A new kind of finding is one detector, its test, and one line in the
// engine's list of detectors.
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "analysis/findings.h"
#include "analysis/message_facts.h"
#include "analysis/motion_model.h"
#include "analysis/time_histogram.h"
#include "protocol/values.h"

namespace vornlog::findings {

// A message's place: its number and its time, when it has one.
struct Moment {
    std::uint64_t number = 0;
    bool timed = false;
    TimeNs ns = 0;
};

inline Moment momentOf(const RequestPairing::Request& r) { return Moment{r.at, r.timed, r.ns}; }

inline constexpr std::int64_t kMs = 1'000'000;
// Episodes of one kind and cause (underruns: of one kind) less than this
// apart make one finding.
inline constexpr std::int64_t kGroupGap = 500 * kMs;
// Live: an underrun or a stop open this long is reported as ongoing.
inline constexpr std::int64_t kOngoingAfter = 1000 * kMs;
// A silence or a reply delay stands out when it is at least this long.
inline constexpr std::int64_t kLong = 50 * kMs;

// Whether `a` is at least `factor` times `m` (neither negative), without
// the product: a damaged capture's times can make a median so long that
// it would overflow.
inline bool atLeastTimes(std::int64_t a, std::int64_t factor, std::int64_t m) { return a / factor >= m; }

// The figures of the sentences.
std::string number(std::int64_t v);
std::string milliseconds(std::int64_t ns);
std::string seconds(std::int64_t ns, int digits);
std::string stepsText(const Steps& steps);
std::string_view instructionName(std::uint8_t code);

// One message as the detectors get it.
struct Message {
    const FieldValues& v;
    const MessageFacts& facts;
    const motion::Model& model;
    const Moment& m;
    bool pc;
};

class Desk {
public:
    using Report = std::function<void(const Finding&)>;

    // `model`: the one the engine feeds, which the detectors read also when
    // time passes without a message.
    Desk(bool textDump, bool live, const motion::Model& model, Report report)
        : textDump_(textDump), live_(live), model_(model), report_(std::move(report))
    {
    }

    bool live() const { return live_; }
    const motion::Model& model() const { return model_; }

    // ---- the capture so far ----------------------------------------------

    // The record about to be fed: its moment becomes last(), its time the
    // origin when it is the first with one.
    void at(const CaptureRecord& record)
    {
        // Written into `last_` field by field: a value built here and copied
        // whole would wait for its narrow stores on every message.
        last_.number = record.number;
        last_.timed = record.hasTime;
        last_.ns = record.timeNs;
        if (record.hasTime) {
            if (!haveOrigin_) {
                haveOrigin_ = true;
                origin_ = record.timeNs;
            }
            if (record.timeDigits > digits_) digits_ = record.timeDigits;
            haveLastTime_ = true;
            lastTime_ = record.timeNs;
        }
    }
    const Moment& last() const { return last_; }
    bool haveOrigin() const { return haveOrigin_; }
    TimeNs origin() const { return origin_; }
    // The time of the last message with one.
    bool haveLastTime() const { return haveLastTime_; }
    TimeNs lastTime() const { return lastTime_; }

    // ---- places and findings -----------------------------------------------

    // "line" or "packet": what the capture's numbers count.
    std::string_view unit() const { return textDump_ ? "line" : "packet"; }
    // "line 12 (0.345 s)".
    std::string place(const Moment& m) const;
    // "line 12".
    std::string numbered(std::uint64_t n) const;
    // Since the origin, in nanoseconds (0 without a time).
    std::int64_t since(const Moment& m) const { return m.timed && haveOrigin_ ? elapsed(origin_, m.ns) : 0; }

    // A finding that begins at `first`.
    Finding opened(Kind kind, Cause cause, const Moment& first) const;
    // Its evidence goes on to m.
    void close(Finding& f, const Moment& m) const;
    // Reported: numbered when it is first reported.
    void emit(Finding& f);

    // ---- bursts ----------------------------------------------------------------

    // The episodes of one cause, each less than kGroupGap after the last:
    // the finding waits for kGroupGap to pass after its last episode's end.
    struct Burst {
        bool has = false;
        Finding f;
        std::string what; // the first episode's sentence, without its full stop
        Moment lastEnd;
    };
    Burst& burstOf(Cause cause) { return bursts_[static_cast<int>(cause)]; }
    // Whether an episode that began at `first` joins the burst waiting.
    static bool joins(const Burst& b, const Moment& first)
    {
        return b.has && first.timed && b.lastEnd.timed && elapsed(b.lastEnd.ns, first.ns) < kGroupGap;
    }
    // One episode, from `first` to `m`: it joins the burst of its cause, or
    // starts the next one (`what`: its sentence without the full stop).
    void episode(Kind kind, Cause cause, const Moment& first, const Moment& m, std::string what);
    // The burst's last episode ended at m: it waits for a next one.
    void waitOut(Burst& b, const Moment& m);
    // The burst waits no more: reported, or carried on by its detector.
    void release(Burst& b);
    void emitBurst(Burst& b);
    // The sentence of a burst: its first episode's, and how many followed
    // "up to" (`upTo`) its last.
    std::string burstText(const std::string& what, const Finding& f, std::string_view upTo) const;
    // A bit for each cause whose burst waits.
    std::uint32_t burstsWaiting() const { return burstsWaiting_; }
    // Whether a finding that ended at `end` is complete at `now` (at the
    // end of the capture, null: all are).
    static bool isDue(const Moment& end, const Moment* now)
    {
        return !now || (end.timed && elapsed(end.ns, now->ns) >= kGroupGap);
    }

private:
    bool textDump_;
    bool live_;
    const motion::Model& model_;
    Report report_;
    std::uint64_t nextId_ = 1;
    bool haveOrigin_ = false;
    TimeNs origin_ = 0;
    int digits_ = 0;
    Moment last_;
    bool haveLastTime_ = false;
    TimeNs lastTime_ = 0;
    Burst bursts_[kCauses];
    std::uint32_t burstsWaiting_ = 0;
    static_assert(kCauses <= 32);
};

template <typename D>
concept Detector = std::constructible_from<D, Desk&> && requires(D d, const Message& message) { d.message(message); };

} // namespace vornlog::findings
