#include "motion_model.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "analysis/time_histogram.h"
#include "protocol/instructions.h"

namespace vornlog::motion {

namespace {

constexpr std::int64_t kMs = 1'000'000;
// Two blocks of one segment measure the pulse rate when this far apart:
// closer, a capture's milliseconds make the figure too rough.
constexpr std::int64_t kRateSpan = 10 * kMs;
constexpr std::uint32_t kSegMask = 0xFFFFFF;

} // namespace

double Model::rate() const { return nsPerPulse_ > 0 ? 1e9 / nsPerPulse_ : 0; }

void Model::rateChanged()
{
    if (jobPulses_ > 0 && jobNs_ > 0)
        nsPerPulse_ = static_cast<double>(jobNs_) / static_cast<double>(jobPulses_);
    else
        nsPerPulse_ = lastNsPerPulse_;
}

Model::Ns Model::duration(std::int64_t pulses) const
{
    if (pulses <= 0) return 0;
    // A rate near 0 would make any figure: held at some 100 days.
    return static_cast<Ns>(std::min(static_cast<double>(pulses) * nsPerPulse_, 1e16));
}

Model::Ns Model::ns(TimeNs t)
{
    if (!haveOrigin_) {
        haveOrigin_ = true;
        origin_ = t;
    }
    // Held well inside 64 bits: a damaged capture's dates may lie centuries
    // apart, and durations are added to these.
    constexpr std::int64_t kFar = 4'000'000'000'000'000'000;
    return std::clamp(elapsed(origin_, t), -kFar, kFar);
}

std::int64_t Model::partialOf(const Kept& k, std::int64_t left) const
{
    const std::int64_t nbr = k.segment.nbr;
    if (nbr <= 0) return 0;
    return std::clamp<std::int64_t>(nbr - left, 0, nbr);
}

Steps Model::reachedOf(const Kept& k, std::int64_t left) const
{
    Steps p{};
    const std::int64_t nbr = k.segment.nbr;
    if (nbr <= 0) return p;
    const double part = static_cast<double>(partialOf(k, left)) / static_cast<double>(nbr);
    for (std::size_t a = 0; a < 5; ++a) p[a] = static_cast<std::int64_t>(static_cast<double>(k.segment.steps[a]) * part);
    return p;
}

Steps Model::position() const
{
    Steps p = executed_;
    if (partial_ && done_ < stored_) {
        const Steps part = reachedOf(kept(done_ + 1), left_);
        for (std::size_t a = 0; a < 5; ++a) p[a] += part[a];
    }
    return p;
}

Steps Model::unreached() const
{
    const Steps p = position();
    Steps u;
    for (std::size_t a = 0; a < 5; ++a) u[a] = storedSteps_[a] - dropped_[a] - p[a];
    return u;
}

void Model::endJob()
{
    if (job_ == Job::Idle) return;
    if (job_ == Job::Running) events_.jobEnded = events_.some = true;
    job_ = Job::Idle;
    moved_ = false;
    dryOpen_ = false;
    lastNsPerPulse_ = nsPerPulse_;
    jobPulses_ = jobNs_ = 0;
}

void Model::store(const Segment& segment, const Block& arrival)
{
    // A ring full of segments no block has shown done (a capture without
    // status blocks): the oldest is taken as executed, at no known time.
    if (stored_ - done_ >= kRing) settle(done_ + 1, Block{});
    ++stored_;
    Kept& k = kept(stored_);
    k.segment = segment;
    k.arrivalTimed = arrival.timed;
    k.arrival = arrival.at;
    k.startSet = k.endSet = false;
    for (std::size_t a = 0; a < 5; ++a) storedSteps_[a] += segment.steps[a];
}

// Segments done_+1 .. upTo are done by block b: each gets its start (its
// own estimate, else the end of the one before or its arrival) and its end
// (projected from the last block that saw it under way, else its pulses at
// the rate), never after b.
void Model::settle(std::uint64_t upTo, const Block& b)
{
    while (done_ < upTo) {
        Kept& k = kept(done_ + 1);
        const bool timed = b.timed && k.arrivalTimed;
        Ns start = 0, end = 0;
        if (timed) {
            start = k.arrival;
            if (lastEndSet_) start = std::max(start, lastEnd_);
            if (k.startSet) start = std::max(start, k.start);
            start = std::min(start, b.at);
            end = k.endSet ? k.end + duration(k.endLeft) : start + duration(k.segment.nbr);
            // Without a rate, all that is known is that it ended by b.
            if (nsPerPulse_ <= 0 && (k.endSet ? k.endLeft : k.segment.nbr) > 0) end = b.at;
            end = std::clamp(end, start, b.at);
            lastEnd_ = end;
        }
        lastEndSet_ = timed;
        for (std::size_t a = 0; a < 5; ++a) executed_[a] += k.segment.steps[a];
        ++done_;
        partial_ = false;
        if (onExecution_) onExecution_(Execution{done_, timed, timed ? time(start) : 0, timed ? time(end) : 0});
    }
}

// What the buffer holds is gone (a reset, or a stopped controller that
// emptied it): the part of the segment under way that was done counts, the
// rest is never reached.
void Model::dropWaiting(const Block& b)
{
    dryOpen_ = false;
    emptied_ = true;
    while (done_ < stored_) {
        Kept& k = kept(done_ + 1);
        Execution e;
        e.segment = done_ + 1;
        Steps reached{};
        if (partial_) {
            reached = reachedOf(k, left_);
            e.timed = b.timed && k.startSet;
            if (e.timed) {
                e.start = time(k.start);
                e.end = time(std::clamp(k.endSet ? k.end + duration(k.endLeft) : b.at, k.start, std::max(k.start, b.at)));
            }
        }
        for (std::size_t a = 0; a < 5; ++a) {
            executed_[a] += reached[a];
            dropped_[a] += k.segment.steps[a] - reached[a];
        }
        ++done_;
        partial_ = false;
        if (onExecution_) onExecution_(e);
    }
    started_ = done_;
    left_ = 0;
    lastEndSet_ = false;
}

// The pulse rate: the pulses put out between consecutive blocks that both
// show motion (the machine cannot have stood still between them: a segment
// that ended a stand-still shows in the block of its reply), summed until
// the chain spans kRateSpan, then counted. A block without motion, or a
// segment with acceleration data, breaks the chain.
void Model::measureRate(const Block& b, bool moving, bool resumed, std::int64_t left)
{
    const std::uint64_t u = started_;
    bool chained = moving && !resumed && chain_ && b.timed && u >= rateSegment_ && u - rateSegment_ < kRing &&
                   !kept(u).segment.hasAcceleration();
    if (chained) {
        if (u == rateSegment_) {
            chainPulses_ += std::max<std::int64_t>(rateLeft_ - left, 0);
        } else {
            std::int64_t pulses = std::max<std::int64_t>(rateLeft_, 0);
            for (std::uint64_t k = rateSegment_ + 1; k < u && chained; ++k) {
                chained = !kept(k).segment.hasAcceleration();
                pulses += std::max<std::int32_t>(kept(k).segment.nbr, 0);
            }
            chainPulses_ += pulses + partialOf(kept(u), left);
        }
    }
    if (chained) {
        const Ns span = b.at - chainFrom_;
        if (span >= kRateSpan && span < INT64_MAX / 4 - jobNs_ && chainPulses_ < INT64_MAX / 4 - jobPulses_) {
            // Summed in whole numbers: one division for the figure.
            jobPulses_ += chainPulses_;
            jobNs_ += span;
            chainPulses_ = 0;
            chainFrom_ = b.at;
            rateChanged();
        }
    } else {
        chainPulses_ = 0;
        chainFrom_ = b.at;
    }
    chain_ = moving && b.timed;
    rateSegment_ = u;
    rateLeft_ = left;
}

// The buffer ran dry: the segment this reply stored arrived with nothing
// else left, or a block shows the buffer empty and the machine still
// (`shownDry`). The controller's own word (`saidDry`: STOP bit 7 turned to
// 1, the machine still) holds even where SEG still names a segment as
// under way: a controller may leave SEG at the last one it ran.
void Model::standStill(const Block& b, bool storedThis, bool shownDry, bool saidDry)
{
    if (storedThis) {
        const std::uint64_t k = stored_;
        // An end-of-data mark resumes nothing: the job ends with it.
        if (kept(k).segment.endOfData()) return;
        if (!dryOpen_ && done_ + 1 < k && !saidDry) return;
        const Kept& arrived = kept(k);
        if (!dryOpen_) {
            still_ = StandStill{};
            still_.dryAfter = moved_ ? lastMoving_.number : 0;
            still_.dryBefore = b.number;
            still_.timed = b.timed && arrived.arrivalTimed;
            if (still_.timed) {
                Ns dryAt = lastEndSet_ ? lastEnd_ : arrived.arrival;
                if (moved_ && lastMoving_.timed) dryAt = std::max(dryAt, lastMoving_.at);
                stillDry_ = std::min(dryAt, arrived.arrival);
                // The segments before ran out no sooner than it came: the
                // machine never stood.
                if (stillDry_ >= arrived.arrival) return;
                still_.dry = time(stillDry_);
            }
        }
        still_.resumedBy = b.number;
        still_.segment = k;
        if (still_.timed) still_.resumed = time(std::max(arrived.arrival, stillDry_));
        dryOpen_ = false;
        events_.resumed = events_.some = true;
        Kept& next = kept(k);
        if (next.arrivalTimed && !next.startSet) {
            next.start = next.arrival;
            next.startSet = true;
        }
        return;
    }
    if (!dryOpen_ && (shownDry || saidDry)) {
        dryOpen_ = true;
        still_ = StandStill{};
        still_.dryAfter = moved_ ? lastMoving_.number : 0;
        still_.dryBefore = b.number;
        still_.timed = b.timed;
        if (b.timed) {
            Ns dryAt = lastEndSet_ ? lastEnd_ : b.at;
            if (moved_ && lastMoving_.timed) dryAt = std::max(dryAt, lastMoving_.at);
            stillDry_ = std::min(dryAt, b.at);
            still_.dry = time(stillDry_);
        }
        events_.dryOpened = events_.some = true;
    }
}

void Model::block(const Block& b, bool storedThis, int buf, bool haveBuf, bool moving, std::int64_t left,
                  std::uint32_t seg, unsigned stop, bool haveStop)
{
    const unsigned rising = haveStop ? stop & ~stopState_ : 0;
    if (haveStop) stopState_ = stop;
    const bool stopped = haveStop && (stop & kStopReasonBits);
    if (rising & kStopReasonBits) {
        // Where the machine stopped, and what it will not reach.
        events_.stopRising = rising & kStopReasonBits;
        events_.some = true;
        endJob();
    }

    // The reply to a segment stored into an empty buffer tells whether the
    // block counts it.
    if (convention_ == Convention::Unknown && storedThis && haveBuf && (anchored_ || emptied_) &&
        done_ + 1 == stored_ && !partial_) {
        if (!moving && buf == 0 && left <= 0)
            convention_ = Convention::BeforeStoring;
        else if ((!moving && buf == 1) || (moving && buf == 0))
            convention_ = Convention::AfterStoring;
    }
    const std::uint64_t known = stored_ - (storedThis && convention_ != Convention::AfterStoring ? 1 : 0);

    // The segments started, by SEG; anchored by BUF.
    if (!anchored_) {
        if (!haveBuf) {
            seg_ = seg;
            return;
        }
        const auto waiting = static_cast<std::uint64_t>(std::max(buf, 0));
        started_ = known - std::min(known, waiting);
        anchored_ = true;
    } else {
        started_ += (seg - seg_) & kSegMask;
    }
    seg_ = seg;
    // A block cannot have started what it still shows waiting: where SEG
    // and BUF disagree so, BUF holds.
    if (haveBuf) started_ = std::min(started_, known - std::min<std::uint64_t>(known, static_cast<std::uint64_t>(std::max(buf, 0))));
    // Nor can a block that shows nothing waiting, nothing under way and no
    // stop have anything left to start.
    if (haveBuf && buf == 0 && !moving && left <= 0 && !stopped) started_ = known;
    started_ = std::max(done_, std::min(started_, known));

    const bool underWay = started_ > done_ && (moving || left > 0);
    const std::uint64_t lastDone = underWay ? started_ - 1 : started_;
    haveBlock_ = true;
    if (lastDone > done_) settle(lastDone, b);
    partial_ = underWay;
    left_ = underWay ? std::max<std::int64_t>(left, 0) : 0;
    if (underWay) {
        Kept& k = kept(started_);
        if (b.timed && k.arrivalTimed) {
            if (!k.startSet && nsPerPulse_ > 0) {
                Ns lo = k.arrival;
                if (lastEndSet_) lo = std::max(lo, lastEnd_);
                k.start = std::clamp(b.at - duration(partialOf(k, left_)), std::min(lo, b.at), b.at);
                k.startSet = true;
            }
            // Its end, as this block foretells it (worked out when asked).
            // A machine that stopped with pulses left ended it where those
            // pulses ran out after the last block that saw it move, no later
            // than this block; the blocks after keep that moment.
            if (moving) {
                k.endSet = true;
                k.end = b.at;
                k.endLeft = left_;
            } else if (!k.endSet) {
                k.endSet = true;
                k.end = b.at;
                k.endLeft = 0;
            } else if (k.endLeft > 0) {
                k.end = std::min(b.at, k.end + duration(k.endLeft - left_));
                k.endLeft = 0;
            }
        }
    }

    // Whether the segment this reply stored is the one under way: it
    // started as it arrived, into an empty buffer.
    const bool startedOnArrival = storedThis && underWay && started_ == stored_ && convention_ == Convention::AfterStoring;
    measureRate(b, underWay && moving, startedOnArrival, left_);

    if (events_.stopRising) unreachedAtStop_ = unreached();
    // A stopped controller that reports its buffer empty dropped what it
    // held.
    if (stopped && haveBuf && buf == 0 && !moving && stored_ > started_) dropWaiting(b);

    // Whether the machine stood still, judged against the motion the blocks
    // before this one showed (a job's first motion ends no stand-still).
    if (job_ == Job::Running && !stopped) standStill(b, storedThis, haveBuf && !moving && (buf == 0 || (rising & kEndOfDataProcessed)) && done_ >= known,
                   haveBuf && !moving && (rising & kEndOfDataProcessed));
    if (moving) {
        lastMoving_ = b;
        moved_ = true;
        if (job_ == Job::Starting) {
            job_ = Job::Running;
            events_.began = events_.some = true;
        }
    }
}

std::optional<TimeNs> Model::projectedEnd() const
{
    if (!haveBlock_ || nsPerPulse_ <= 0) return std::nullopt;
    bool have = lastEndSet_;
    Ns end = lastEnd_;
    for (std::uint64_t k = done_ + 1; k <= stored_; ++k) {
        const Kept& s = kept(k);
        if (!s.arrivalTimed) return std::nullopt;
        if (k == done_ + 1 && partial_ && s.endSet) {
            end = s.end + duration(s.endLeft);
        } else {
            Ns start = have ? std::max(end, s.arrival) : s.arrival;
            if (k == done_ + 1 && partial_ && s.startSet) start = std::max(start, s.start);
            end = start + duration(s.segment.nbr);
        }
        have = true;
    }
    if (!have) return std::nullopt;
    return time(end);
}

void Model::feed(const CaptureRecord& record, const FieldValues& v, const MessageFacts& facts)
{
    events_ = Events{};
    const std::uint8_t code = v.code();
    if (code == table::kTableCode && v.has<table::kStepsPerMm>(1) && v.has<table::kStepsPerMm>(2)) {
        const auto perMm = [&](int axis) { return std::max(v.signedValue<table::kStepsPerMm>(axis), 0); };
        if (perMm(1) > 0 && perMm(2) > 0)
            perMm_ = StepsPerMm{{perMm(1), perMm(2), v.has<table::kStepsPerMm>(3) ? perMm(3) : 0}, record.number};
    }
    if (record.direction == Direction::Pc) {
        if (code == kStopCode && v.has<kStopCmd>() && stopsMotion(v.value<kStopCmd>())) {
            endJob();
        } else if (code == kBufferCode && v.has<kBufferCmd>() && endsJob(v.value<kBufferCmd>())) {
            endJob();
            if (static_cast<int>(v.value<kBufferCmd>()) == kBufferReset)
                dropWaiting(Block{record.number, record.hasTime, record.hasTime ? ns(record.timeNs) : 0});
        }
        return;
    }
    if (code != kDataCode && code != kInformationCode && code != kStopCode) return;
    // The block is timed at its request's moment; a reply that answers none,
    // at its own.
    Block b{record.number, record.hasTime, 0};
    if (record.hasTime) {
        const auto& asked = facts.answered;
        b.at = ns(asked && asked->timed ? std::min(asked->ns, record.timeNs) : record.timeNs);
    }

    if (code == kStopCode) {
        if (!v.has<kStopRet>()) return;
        const unsigned ret = v.value<kStopRet>();
        // RET has no FLAG: the machine moves while pulses are left and
        // the step activity runs.
        const std::int64_t left = v.signedValue<kPulsesLeft>();
        block(b, false, 0, false, left > 0 && !(ret & kStepActivityStopped), left, v.value<kSeg>(), ret, true);
        return;
    }
    bool storedThis = false;
    if (code == kDataCode && facts.event == DataEvent::Stored) {
        const Segment& s = facts.stored.segment;
        if (!s.endOfData() && job_ == Job::Idle) {
            job_ = Job::Starting;
            events_.starting = events_.some = true;
        }
        Block arrival = b;
        store(s, arrival);
        storedThis = true;
    }
    if (v.has<kBuf>())
        block(b, storedThis, static_cast<int>(v.value<kBuf>()), true, v.value<kFlag>() & kStepsInProgress,
              v.signedValue<kPulsesLeft>(), v.value<kSeg>(), v.value<kStop>(), v.has<kStop>());
    if (storedThis && facts.stored.segment.endOfData()) endJob();
}

} // namespace vornlog::motion
