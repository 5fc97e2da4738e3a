#include "underrun.h"

#include <algorithm>
#include <climits>

namespace vornlog::findings {

namespace {

// An underrun that waits for a next episode waits at most this long beyond
// the gap for the block that would show it.
constexpr std::int64_t kGroupWait = 5000 * kMs;
// A silence or a reply delay stands out when it is kLong and this many
// times the median so far.
constexpr std::int64_t kSilenceFactor = 5;
constexpr std::int64_t kReplyFactor = 5;
// A pulse rate beyond this comes of damaged times, not of a motor.
constexpr double kMostPulsesPerSecond = 1e8;

// Two durations added, none below 0, held at the largest: a damaged
// capture's dates can make any.
std::int64_t addDurations(std::int64_t a, std::int64_t b)
{
    a = std::max<std::int64_t>(a, 0);
    b = std::max<std::int64_t>(b, 0);
    return a > INT64_MAX - b ? INT64_MAX : a + b;
}

// A status block with BUF 7, or a "buffer full" reply (Data's or
// Information's).
bool fullBuffer(const FieldValues& v)
{
    if (v.code() == motion::kDataCode && v.has<motion::kDataStatusSt>() &&
        v.value<motion::kDataStatusSt>() == motion::kBufferFull)
        return true;
    if (v.code() == motion::kInformationCode && v.has<motion::kInformationSt>() && v.value<motion::kInformationSt>() != 0)
        return true;
    return (v.code() == motion::kDataCode || v.code() == motion::kInformationCode) && v.has<motion::kBuf>() &&
           static_cast<int>(v.value<motion::kBuf>()) >= motion::kBufferSegments;
}

// A stand-still's moments, as the model gives them.
Moment dryMoment(const motion::StandStill& st, const Moment& m)
{
    const std::uint64_t first = st.dryAfter ? st.dryAfter : st.dryBefore;
    return Moment{first ? first : m.number, st.timed, st.timed ? st.dry : m.ns};
}
Moment resumedMoment(const motion::StandStill& st, const Moment& m)
{
    return Moment{st.resumedBy ? st.resumedBy : m.number, st.timed, st.timed ? st.resumed : m.ns};
}

} // namespace

// ---- the drain window --------------------------------------------------------

void Underrun::dataSent(const Moment& m)
{
    if (m.timed && !silenceTaken_ && lastController_.timed) {
        const std::int64_t s = elapsed(lastController_.ns, m.ns);
        silences_.add(s);
        if (s > window_.silence) {
            window_.silence = s;
            window_.silenceFrom = lastController_;
            window_.silenceAfterFull = lastControllerFull_;
        }
    }
    silenceTaken_ = true;
}

void Underrun::controller(const Message& in)
{
    const FieldValues& v = in.v;
    const Moment& m = in.m;
    const std::uint8_t code = v.code();
    const auto& answered = in.facts.answered;
    // A full buffer, which this reply may show, starts the drain window
    // anew; its own delay belongs to the new one.
    if (fullBuffer(v)) resetWindow();
    if (answered && answered->timed && m.timed) {
        const std::int64_t d = elapsed(answered->ns, m.ns);
        replyDelays_.add(d);
        if (d > window_.reply) {
            window_.reply = d;
            window_.replyTo = m;
            window_.replyCode = code;
        }
    }
    lastController_ = m;
    lastControllerFull_ = false;
    silenceTaken_ = false;
    if (code == motion::kDataCode) {
        if (in.facts.event == motion::DataEvent::Stored) {
            const motion::StoredSegment& s = in.facts.stored;
            if (!s.segment.endOfData()) {
                window_.pulses += s.segment.nbr;
                ++window_.segments;
            }
        } else if (in.facts.event == motion::DataEvent::BufferFull) {
            lastControllerFull_ = true;
        }
    } else if (code == motion::kInformationCode) {
        lastControllerFull_ = v.value<motion::kInformationSt>() != 0;
    }
}

// Why the buffer ran dry, from the drain window.
std::pair<Cause, std::string> Underrun::why(const Moment& m)
{
    if (!m.timed || !desk_.haveOrigin()) return {Cause::Unknown, "the capture has no times to tell why"};
    const std::int64_t silenceMedian = silences_.median(), replyMedian = replyDelays_.median();
    Window w = window_;
    // A silence still going on (live, while the machine stands) counts as
    // far as it has gone.
    if (!silenceTaken_ && lastController_.timed && lastController_.number != m.number) {
        const std::int64_t s = elapsed(lastController_.ns, m.ns);
        if (s > w.silence) {
            w.silence = s;
            w.silenceFrom = lastController_;
            w.silenceAfterFull = lastControllerFull_;
        }
    }
    if (w.silence >= kLong && atLeastTimes(w.silence, kSilenceFactor, silenceMedian)) {
        if (w.silenceAfterFull)
            return {Cause::Refusals, "after the \"buffer full\" reply at " + desk_.place(w.silenceFrom) +
                                         " the PC program waited " + milliseconds(w.silence) +
                                         " before its next Data message, against a median silence of " +
                                         milliseconds(silenceMedian)};
        return {Cause::HostGap, "the PC program sent no Data message for " + milliseconds(w.silence) +
                                    " after the controller's message at " + desk_.place(w.silenceFrom) +
                                    ", against a median silence of " + milliseconds(silenceMedian)};
    }
    if (w.reply >= kLong && atLeastTimes(w.reply, kReplyFactor, replyMedian))
        return {Cause::SlowReplies, "the controller took " + milliseconds(w.reply) + " to answer with its " +
                                        std::string(instructionName(w.replyCode)) + " reply at " +
                                        desk_.place(w.replyTo) + ", against a median reply of " +
                                        milliseconds(replyMedian)};
    std::string text = "no silence of the PC program nor reply stood out (longest " + milliseconds(w.silence) +
                       " and " + milliseconds(w.reply) + "): the segments ran out faster than one round trip";
    // The rate the model measured over a real span; one below a pulse a
    // second (or beyond any motor's) would make a figure of nothing.
    if (const double rate = desk_.model().rate();
        rate >= 1 && rate <= kMostPulsesPerSecond && w.segments > 0 && w.pulses > 0) {
        const double mean = static_cast<double>(w.pulses) / static_cast<double>(w.segments);
        text += ", some " + milliseconds(static_cast<std::int64_t>(std::min(mean / rate * 1e9, 1e18))) +
                " each at the " + number(static_cast<std::int64_t>(rate)) + " pulses/s the status blocks show";
    }
    return {Cause::ShortSegments, text};
}

// ---- stand-stills ----------------------------------------------------------------

// What the model made of the message fed last: a job's start, a stand-still
// that opened or ended, the job's end.
void Underrun::motionEvents(const Moment& m)
{
    const motion::Model& model = desk_.model();
    const motion::Model::Events& ev = model.events();
    // Called where the model told something, or an underrun opened by
    // projection waits for the blocks.
    if (projected_ && phase_ == Phase::Open && !ev.resumed && model.lastMovingNumber() == m.number) {
        // Told as standing by projection, but this block shows the machine
        // moving: the stand-still ends here.
        motion::StandStill st;
        st.dryAfter = f_.dryAfter;
        st.resumedBy = m.number;
        st.timed = began_.timed && m.timed;
        st.dry = began_.ns;
        st.resumed = std::max(m.ns, began_.ns);
        projected_ = false;
        refill(st, m);
    }
    if (!ev.any()) return;
    if (ev.starting) windowFromJob_ = true;
    if (ev.began && windowFromJob_) resetWindow();
    if (ev.resumed) {
        evidence(model.standStill(), m);
        refill(model.standStill(), m);
    }
    if (ev.dryOpened) evidence(model.standStill(), m);
    if (ev.jobEnded) endJob(m);
}

// Live: the segments stored ran out a second ago, by the last block and the
// rate, and no block came to tell (the PC program fell silent): the machine
// stands, and an underrun opens now, to be told as ongoing. The block that
// comes next settles its times and its cause.
void Underrun::standingByProjection(const Moment& now)
{
    const motion::Model& model = desk_.model();
    if (phase_ == Phase::Open || !model.running() || model.dry()) return;
    const std::optional<TimeNs> end = model.projectedEnd();
    if (!end || elapsed(*end, now.ns) < kOngoingAfter) return;
    motion::StandStill st;
    st.dryAfter = model.lastMovingNumber();
    st.timed = true;
    st.dry = *end;
    evidence(st, now);
    projected_ = true;
}

// Whether the machine may have stood still again less than 0.5 s after the
// last episode, though no block told yet (a reply still on its way, a PC
// program fallen silent): the segments stored then ran out before. Waited
// for at most kGroupWait beyond the gap.
bool Underrun::mayStandAgain(const Moment& now) const
{
    const motion::Model& model = desk_.model();
    if (!model.running() || elapsed(refilled_.ns, now.ns) >= kGroupGap + kGroupWait) return false;
    const std::optional<TimeNs> end = model.projectedEnd();
    return end && elapsed(refilled_.ns, *end) < kGroupGap;
}

// The buffer ran dry (the model's stand-still `st`, seen at m): an underrun
// opens, or the one waiting groups it when its last episode ended less than
// 0.5 s before this one began.
void Underrun::evidence(const motion::StandStill& st, const Moment& m)
{
    if (phase_ == Phase::Open) return;
    const Moment dry = dryMoment(st, m);
    const bool joins =
        phase_ == Phase::Waiting && dry.timed && refilled_.timed && elapsed(refilled_.ns, dry.ns) < kGroupGap;
    if (phase_ == Phase::Waiting && !joins) emitWaiting();
    if (!joins) {
        auto [cause, text] = why(m);
        f_ = desk_.opened(Kind::Underrun, cause, dry);
        f_.dryAfter = st.dryAfter;
        f_.dryBefore = st.dryBefore;
        why_ = std::move(text);
        episodes_ = 0;
        stood_ = 0;
        reportedOngoing_ = false;
    }
    phase_ = Phase::Open;
    projected_ = false;
    began_ = dry;
}

// Motion resumed: the episode open ends.
void Underrun::refill(const motion::StandStill& st, const Moment& m)
{
    if (phase_ != Phase::Open) return;
    if (projected_) {
        // The blocks now tell what the projection guessed.
        projected_ = false;
        const Moment dry = dryMoment(st, m);
        began_ = dry;
        if (episodes_ == 0) {
            f_.start = desk_.since(dry);
            f_.first = dry.number;
            f_.dryAfter = st.dryAfter;
            f_.dryBefore = st.dryBefore;
            auto [cause, text] = why(m);
            f_.cause = cause;
            why_ = std::move(text);
        }
    }
    ++episodes_;
    const Moment resumed = resumedMoment(st, m);
    refilled_ = resumed;
    stood_ = stoodUntil(resumed);
    desk_.close(f_, resumed);
    phase_ = Phase::Waiting;
}

// The time stood still by the episodes that refilled, and by the one open
// up to `m`.
std::int64_t Underrun::stoodUntil(const Moment& m) const
{
    if (!m.timed || !began_.timed) return stood_;
    return addDurations(stood_, elapsed(began_.ns, m.ns));
}

// The finding's stood still time: the episodes that refilled, and the one
// open up to `now`.
void Underrun::setStood(Finding& f, const Moment* now) const
{
    f.hasStood = f.timed && !f.clockWentBack;
    if (!f.hasStood) return;
    f.stood = now ? stoodUntil(*now) : stood_;
}

std::string Underrun::text(const Finding& f, bool refilled) const
{
    std::string text = "The machine stood still";
    if (f.count > 1) text += " " + number(static_cast<std::int64_t>(f.count)) + " times less than 0.5 s apart,";
    if (f.hasStood) text += (f.count > 1 ? " " : " for ") + seconds(f.stood, 3) + (f.count > 1 ? " in all," : "");
    if (f.timed) text += " from about " + seconds(f.start, 3);
    if (f.hasStood && f.count > 1 && refilled) text += " to " + seconds(f.end, 3);
    text += " (its buffer ";
    if (f.count > 1) text += "first ";
    if (f.dryAfter && f.dryBefore)
        text += "ran dry between the status blocks of messages " + number(static_cast<std::int64_t>(f.dryAfter)) +
                " and " + number(static_cast<std::int64_t>(f.dryBefore)) + ")";
    else if (f.dryAfter)
        text += "ran dry, by the segments stored, after the status block of message " +
                number(static_cast<std::int64_t>(f.dryAfter)) + ")";
    else
        text += "was dry at the status block of message " + number(static_cast<std::int64_t>(f.dryBefore)) + ")";
    text += " while a job ran";
    if (refilled)
        text += ", until the segment stored at " + desk_.numbered(f.last);
    else
        text += ", and had not moved again by " + desk_.numbered(f.last);
    return text + ": " + why_ + ".";
}

Finding Underrun::ongoing() const
{
    Finding f = f_;
    f.count = episodes_ + 1;
    f.ongoing = true;
    desk_.close(f, desk_.last());
    setStood(f, &desk_.last());
    f.text = text(f, false);
    return f;
}

void Underrun::emitWaiting()
{
    Finding f = f_;
    f.count = episodes_;
    setStood(f, nullptr);
    f.text = text(f, true);
    desk_.emit(f);
    phase_ = Phase::None;
}

// The job ended: an underrun open is none (unless reported already), one
// that waited is complete.
void Underrun::endJob(const Moment& m)
{
    if (phase_ == Phase::Open) {
        if (episodes_ == 0 && !reportedOngoing_)
            phase_ = Phase::None;
        else {
            if (episodes_ == 0) {
                episodes_ = 1;
                stood_ = stoodUntil(m);
                desk_.close(f_, m);
            }
            phase_ = Phase::Waiting;
        }
    }
    if (phase_ == Phase::Waiting) emitWaiting();
}

// ---- time passing ------------------------------------------------------------------

void Underrun::live(const Moment& now)
{
    standingByProjection(now);
    if (phase_ == Phase::Open && !reportedOngoing_ && began_.timed && elapsed(began_.ns, now.ns) >= kOngoingAfter) {
        reportedOngoing_ = true;
        Finding f = ongoing();
        desk_.emit(f);
        f_.id = f.id;
    }
}

void Underrun::finish()
{
    if (phase_ == Phase::Open) {
        Finding f = ongoing();
        desk_.emit(f);
        phase_ = Phase::None;
    }
}

} // namespace vornlog::findings
