// What the machine did, reconstructed from the wire: which stored segment
// ran when, when the machine stood still while a job ran, and where the
// tool was. One model, fed every message of a capture once with its
// decoding and its facts, read by the findings, the summary and the viewer.
//
// The stored segments are the Data messages the controller confirmed
// (analysis/segments.h), end-of-data marks included; they are counted from
// 1 in the order they were stored, as the steps CSV lists them. Every status
// block (Data and Information replies, and the Stop reply's SEG and NBR) is
// mapped onto them:
//   - SEG: its difference from the previous block's, modulo 2^24, is the
//     number of segments started between them; its own value is never used.
//     The first block (and the first after a reset) anchors the count with
//     BUF, the segments waiting behind the one under way.
//   - Whether a Data reply's block counts the segment its request stored is
//     read from the capture: the reply to the first segment stored into an
//     empty buffer tells (BUF 0 and still means the block was taken before
//     the segment was stored; BUF 1 and still, or moving with it under way,
//     after). Until a capture shows it, before.
//   - A block describes the controller as it took the request: it is timed
//     at the request's moment (the controller stores a segment as it
//     arrives; a slow reply delays the answer, not the motion); a reply that
//     answers no request, at its own moment.
//   - The pulse rate: pulses over time between blocks that show motion
//     without a break, at least 10 ms apart (within one segment, or across
//     segments executed back to back), summed over the job; segments with
//     acceleration data, whose rate varies, are left out. Before a job has
//     one, the last job's.
// A segment's start and end are estimated between the blocks at that rate,
// never outside what the blocks show: it cannot end after the block that
// shows it done, nor start before it arrived or its predecessor ended.
//
// Memory is constant: the segments not yet done (at most a ring of 64) and
// a few figures.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "analysis/message_facts.h"
#include "capture/source.h"
#include "protocol/values.h"

namespace vornlog::motion {

// The steps of S1 to S5, signed.
using Steps = std::array<std::int64_t, 5>;

// A stand-still while a job ran: the buffer ran dry, and the machine stood
// until the next stored segment arrived.
struct StandStill {
    // The messages whose status blocks last showed motion (0: none did in
    // this job) and first showed the buffer dry (the reply that stored the
    // segment that ended it, when no block in between showed it dry).
    std::uint64_t dryAfter = 0;
    std::uint64_t dryBefore = 0;
    // The reply that stored the segment whose arrival ended it (0 while it
    // lasts), and that segment.
    std::uint64_t resumedBy = 0;
    std::uint64_t segment = 0;
    // When the buffer ran dry (estimated) and when motion resumed (the
    // arrival of that segment); only when the capture has times.
    bool timed = false;
    TimeNs dry = 0;
    TimeNs resumed = 0;
};

// A stored segment once the model knows what became of it: when it ran,
// when known (a segment dropped unreached has no times; one a reset cut
// short, those of its part done).
struct Execution {
    std::uint64_t segment = 0;
    bool timed = false;
    TimeNs start = 0;
    TimeNs end = 0;
};

// The steps for 1 mm of S1, S2 and S3 (0: not given), as the Table
// message that gave them last says, and that message.
struct StepsPerMm {
    std::array<std::int32_t, 3> steps{};
    std::uint64_t number = 0;
};

class Model {
public:
    // What the message fed last did.
    struct Events {
        bool starting = false;   // a stored segment started a job
        bool began = false;      // the job's first motion
        bool jobEnded = false;   // a job that ran ended (end of data, a stop, a reset, ...)
        bool dryOpened = false;  // a block showed the buffer dry while a job ran: standStill() holds it, open
        bool resumed = false;    // a stand-still ended: standStill() holds it
        unsigned stopRising = 0; // stop reason bits that turned to 1
        bool some = false;       // any of the above
        bool any() const { return some; }
    };

    // Told each execution as it is settled (optional).
    using ExecutionReport = std::function<void(const Execution&)>;
    void onExecution(ExecutionReport report) { onExecution_ = std::move(report); }

    // Every message, in order, with its decoding and the facts worked out
    // for it (pairing, stored segment).
    void feed(const CaptureRecord& record, const FieldValues& v, const MessageFacts& facts);

    const Events& events() const { return events_; }
    // The stand-still open or just ended.
    const StandStill& standStill() const { return still_; }
    bool dry() const { return dryOpen_; }
    // The message whose status block last showed motion in this job (0:
    // none).
    std::uint64_t lastMovingNumber() const { return moved_ ? lastMoving_.number : 0; }
    bool running() const { return job_ == Job::Running; }
    // The stored segment the machine was at as the last block showed it:
    // the one under way, else the last one done (0: none yet). At a stop,
    // the segment the stop cut short.
    std::uint64_t segmentAt() const { return partial_ && done_ < stored_ ? done_ + 1 : done_; }

    // Whether a status block came; where the tool was as the last one
    // showed it (what was executed, the segment under way in proportion to
    // its pulses done); every stored step; the stored steps dropped (never
    // to be reached).
    bool known() const { return haveBlock_; }
    Steps position() const;
    const Steps& stored() const { return storedSteps_; }
    const Steps& dropped() const { return dropped_; }
    // The stored steps not reached: now, and at the stop the message fed
    // last showed (events().stopRising), before a controller that dropped
    // its buffer with it made them dropped.
    Steps unreached() const;
    const Steps& unreachedAtStop() const { return unreachedAtStop_; }
    // The pulse rate in use (pulses a second), 0 when none is known.
    double rate() const;
    // When the machine will have executed every segment stored so far, as
    // the last block and the rate foretell; none without a rate or times.
    std::optional<TimeNs> projectedEnd() const;
    // The steps for 1 mm that positions are read in: those of the last Table
    // message (either way) that gives them for S1 and S2; none before one
    // does.
    const std::optional<StepsPerMm>& stepsPerMm() const { return perMm_; }

private:
    // Times inside the model: nanoseconds since its first time, so that
    // the arithmetic of every block stays in 64 bits.
    using Ns = std::int64_t;
    struct Kept {
        Segment segment;
        bool arrivalTimed = false;
        Ns arrival = 0;
        bool startSet = false;
        Ns start = 0;
        // The last block that saw it under way, and its pulses left then
        // (0 once stopped): its end is foretold from there.
        bool endSet = false;
        Ns end = 0;
        std::int64_t endLeft = 0;
    };
    static constexpr std::uint64_t kRing = 64;
    enum class Job { Idle, Starting, Running };
    enum class Convention { Unknown, BeforeStoring, AfterStoring };

    struct Block {
        std::uint64_t number = 0;
        bool timed = false;
        Ns at = 0;
    };

    Kept& kept(std::uint64_t k) { return ring_[(k - 1) % kRing]; }
    const Kept& kept(std::uint64_t k) const { return ring_[(k - 1) % kRing]; }
    Ns duration(std::int64_t pulses) const;
    Ns ns(TimeNs t);
    TimeNs time(Ns t) const { return origin_ + t; }
    void rateChanged();

    void store(const Segment& segment, const Block& arrival);
    void block(const Block& b, bool storedThis, int buf, bool haveBuf, bool moving, std::int64_t left,
               std::uint32_t seg, unsigned stop, bool haveStop);
    void settle(std::uint64_t upTo, const Block& b);
    void standStill(const Block& b, bool storedThis, bool shownDry, bool saidDry);
    void dropWaiting(const Block& b);
    void measureRate(const Block& b, bool moving, bool resumed, std::int64_t left);
    void endJob();
    std::int64_t partialOf(const Kept& k, std::int64_t left) const;
    // The steps of k done with `left` pulses left, truncated toward zero.
    Steps reachedOf(const Kept& k, std::int64_t left) const;

    ExecutionReport onExecution_;
    Events events_;

    Kept ring_[kRing];
    std::uint64_t stored_ = 0;  // segments stored
    std::uint64_t done_ = 0;    // segments executed or dropped: the ring holds done_+1..stored_
    std::uint64_t started_ = 0; // segments started, as the blocks' SEG counts them
    Steps storedSteps_{};
    Steps executed_{}; // of the segments done
    Steps dropped_{};
    Steps unreachedAtStop_{};
    bool lastEndSet_ = false;
    Ns lastEnd_ = 0; // the end of segment done_, when known
    bool haveOrigin_ = false;
    TimeNs origin_ = 0;
    Ns stillDry_ = 0; // still_'s moment, in the model's time

    bool haveBlock_ = false;
    bool anchored_ = false;
    bool emptied_ = false; // a reset emptied the buffer
    std::uint32_t seg_ = 0;
    // The segment under way (done_ + 1) as the last block showed it, with
    // its pulses left; none when nothing was.
    bool partial_ = false;
    std::int64_t left_ = 0;
    unsigned stopState_ = 0;
    Convention convention_ = Convention::Unknown;

    Job job_ = Job::Idle;
    bool moved_ = false; // a block of this job showed motion
    Block lastMoving_;
    bool dryOpen_ = false;
    StandStill still_;

    // The pulse rate: pulses and time summed over the job's pairs of
    // blocks, the anchor of the next pair, and the last job's figure.
    std::int64_t jobPulses_ = 0;
    Ns jobNs_ = 0;
    double lastNsPerPulse_ = 0;
    // The chain of timed blocks with motion: the last one's segment and
    // pulses left, where the chain's uncounted part began and its pulses.
    bool chain_ = false;
    std::uint64_t rateSegment_ = 0;
    std::int64_t rateLeft_ = 0;
    Ns chainFrom_ = 0;
    std::int64_t chainPulses_ = 0;
    // The rate in use as nanoseconds a pulse (0: none).
    double nsPerPulse_ = 0;
    std::optional<StepsPerMm> perMm_;
};

} // namespace vornlog::motion
