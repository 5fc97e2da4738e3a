#include "findings.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstdio>
#include <utility>

#include "protocol/instructions.h"

namespace vornlog::findings {

namespace {

constexpr std::int64_t kMs = 1'000'000;
// Episodes of one kind and cause (underruns: of one kind) less than this
// apart make one finding.
constexpr std::int64_t kGroupGap = 500 * kMs;
// An underrun that waits for a next episode waits at most this long beyond
// the gap for the block that would show it.
constexpr std::int64_t kGroupWait = 5000 * kMs;
// Live: an underrun or a stop open this long is reported as ongoing.
constexpr std::int64_t kOngoingAfter = 1000 * kMs;
// A silence or a reply delay stands out when it is this long and this many
// times the median so far.
constexpr std::int64_t kLong = 50 * kMs;
constexpr std::int64_t kSilenceFactor = 5;
constexpr std::int64_t kReplyFactor = 5;
// A slow reply: this many times its instruction's median, once the median
// rests on this many replies.
constexpr std::int64_t kSlowReplyFactor = 10;
constexpr std::uint64_t kMedianReplies = 8;
// A pulse rate beyond this comes of damaged times, not of a motor.
constexpr double kMostPulsesPerSecond = 1e8;

using motion::kBufferCode;
using motion::kInformationCode;
using motion::kStopCode;

// The cause of a stop finding, by the controller's reason.
constexpr Cause causeOf(motion::StopReason reason)
{
    switch (reason) {
    case motion::StopReason::LimitSwitch: return Cause::LimitSwitch;
    case motion::StopReason::Sensor: return Cause::Sensor;
    case motion::StopReason::Button: return Cause::Button;
    case motion::StopReason::Command: return Cause::Command;
    }
    return Cause::Unknown;
}
constexpr std::size_t kStopSlots = std::size(motion::kStopReasons);

// What the episodes of a burst are called in its sentence ("3 such stops
// less than 0.5 s apart"), by kind.
constexpr std::string_view kEpisodesOf[kKinds] = {
    "stand-stills", "stops", "unanswered messages", "replies", "changed resends", "replies",
};

// Whether `a` is at least `factor` times `m` (neither negative), without
// the product: a damaged capture's times can make a median so long that
// it would overflow.
bool atLeastTimes(std::int64_t a, std::int64_t factor, std::int64_t m) { return a / factor >= m; }

// Two durations added, none below 0, held at the largest: a damaged
// capture's dates can make any.
std::int64_t addDurations(std::int64_t a, std::int64_t b)
{
    a = std::max<std::int64_t>(a, 0);
    b = std::max<std::int64_t>(b, 0);
    return a > INT64_MAX - b ? INT64_MAX : a + b;
}

std::string number(std::int64_t v) { return std::to_string(v); }

std::string milliseconds(std::int64_t ns)
{
    char text[48];
    const double ms = static_cast<double>(ns) / 1e6;
    if (ms >= 10 || ms <= -10)
        std::snprintf(text, sizeof text, "%.0f ms", ms);
    else
        std::snprintf(text, sizeof text, "%.1f ms", ms);
    return text;
}

std::string seconds(std::int64_t ns, int digits)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.*f s", std::clamp(digits, 0, 9), static_cast<double>(ns) / 1e9);
    return text;
}

std::string stepsText(const Steps& steps)
{
    std::string text;
    for (int axis = 0; axis < 5; ++axis) {
        if (axis) text += ' ';
        // Appended piece by piece: g++ 12 at -O2 warns falsely (-Wrestrict) on
        // a "literal" + std::string&& chain here.
        text += 'S';
        text += number(axis + 1);
        text += ' ';
        text += number(steps[static_cast<std::size_t>(axis)]);
    }
    return text;
}

std::string_view instructionName(std::uint8_t code)
{
    const Instruction* instruction = findInstruction(code);
    return instruction ? instruction->name : std::string_view("unknown");
}

} // namespace

std::optional<Kind> kindNamed(std::string_view name)
{
    for (int k = 0; k < kKinds; ++k)
        if (kKindNames[k] == name) return static_cast<Kind>(k);
    return std::nullopt;
}

std::optional<Cause> refusalOf(const FieldValues& v, motion::DataEvent event)
{
    switch (v.code()) {
    case motion::kDataCode:
        if (event == motion::DataEvent::NotUsbMode) return Cause::NotUsbMode;
        if (event == motion::DataEvent::OtherStatus) return Cause::UnknownStatus;
        return std::nullopt;
    // Their status is read for the stop bits and the buffer.
    case kInformationCode:
    case kStopCode: return std::nullopt;
    case kBufferCode:
        if (v.has<motion::kBufferRet>() && v.value<motion::kBufferRet>() == 0) return Cause::CommandRefused;
        return std::nullopt;
    case table::kTableCode:
        if (v.has<table::kTableReplyRet>() && v.value<table::kTableReplyRet>() == 0) return Cause::TableWriteFailed;
        break;
    default: break;
    }
    for (const ErrorKind* e : v.errors())
        if (e->name == "unknown_status" || e->name == "invalid_status") return Cause::UnknownStatus;
    return std::nullopt;
}

// A message's place: its number and its time, when it has one.
struct Moment {
    std::uint64_t number = 0;
    bool timed = false;
    TimeNs ns = 0;
};

struct Engine::State {
    State(bool textDump, bool live, Report report) : textDump(textDump), live(live), report(std::move(report)) {}

    // ---- the frame -----------------------------------------------------

    bool textDump;
    bool live;
    Report report;
    std::uint64_t nextId = 1;
    bool haveOrigin = false;
    TimeNs origin = 0;
    int digits = 0;
    Moment last;
    bool haveLastTime = false;
    TimeNs lastTime = 0;

    std::string_view unit() const { return textDump ? "line" : "packet"; }
    std::string place(const Moment& m) const
    {
        std::string text = std::string(unit()) + " " + std::to_string(m.number);
        if (m.timed && haveOrigin) text += " (" + seconds(elapsed(origin, m.ns), 3) + ")";
        return text;
    }
    std::int64_t since(const Moment& m) const { return m.timed && haveOrigin ? elapsed(origin, m.ns) : 0; }

    Finding opened(Kind kind, Cause cause, const Moment& first)
    {
        Finding f;
        f.kind = kind;
        f.cause = cause;
        f.first = f.last = first.number;
        f.timed = first.timed && haveOrigin;
        f.start = f.end = since(first);
        return f;
    }
    void close(Finding& f, const Moment& m) const
    {
        f.last = m.number;
        if (f.timed && m.timed) f.end = since(m);
        f.clockWentBack = f.timed && f.end < f.start;
    }
    // A finding is numbered when it is first reported.
    void emit(Finding& f)
    {
        if (f.id == 0) f.id = nextId++;
        f.digits = digits;
        if (f.clockWentBack) f.text += " The capture's clock went back between its start and end: no duration is given.";
        report(f);
    }

    // ---- medians so far ------------------------------------------------

    TimeHistogram silences;
    TimeHistogram replyDelays;
    std::unique_ptr<TimeHistogram> replyDelaysOf[256];

    // ---- request and reply ---------------------------------------------

    MessageFactsMaker factsMaker;
    Moment lastController;
    bool lastControllerFull = false;
    bool silenceTaken = true;

    // ---- the drain window of an underrun ---------------------------------

    struct Window {
        std::int64_t silence = 0;
        Moment silenceFrom;
        bool silenceAfterFull = false;
        std::int64_t reply = 0;
        Moment replyTo;
        std::uint8_t replyCode = 0;
        std::int64_t pulses = 0;
        std::uint64_t segments = 0;
    } window;
    bool windowFromJob = false;

    // ---- the job, the stored segments, the status blocks --------------------

    motion::Model model;
    Moment lastSentAt, refusedAt;
    bool refusalOpen = false;
    bool storedSinceRefusal = false;
    unsigned stopState = 0;

    // ---- findings waiting --------------------------------------------------

    // A stop while its bit is set.
    struct Open {
        bool has = false;
        Finding f;
        Moment began;
        bool reportedOngoing = false;
        bool named = false; // a Stop message came before it (a stop by command)
        std::string what;   // a burst it joined: the burst's first sentence
    };
    Open stopsOpen[kStopSlots];
    std::optional<Moment> stopCommand;

    // An underrun: Open while the buffer is dry, Waiting once it refilled
    // (for a next episode less than kGroupGap away).
    struct Underrun {
        enum class Phase { None, Open, Waiting } phase = Phase::None;
        Finding f;
        std::string why;
        std::uint64_t episodes = 0; // refilled so far
        Moment began;               // of the episode open: when the buffer ran dry
        Moment refilled;            // the end of the last episode that refilled: when motion resumed
        bool projected = false;     // the episode open was opened by projection, no block showed it
        std::int64_t stood = 0;     // of the episodes that refilled
        bool reportedOngoing = false;
    } underrun;

    // Every kind but the underrun groups by cause: the finding of a cause
    // waits for kGroupGap to pass after its last episode's end. A stop's
    // episode waits here once its bit has fallen.
    struct Burst {
        bool has = false;
        Finding f;
        std::string what; // the first episode's sentence, without its full stop
        Moment lastEnd;
    };
    Burst bursts[kCauses];
    // A bit for each cause whose burst waits.
    std::uint32_t burstsWaiting = 0;
    static_assert(kCauses <= 32);

    // ---- time passing ------------------------------------------------------

    // Whether anything waits for time to pass.
    bool waiting() const
    {
        if (underrun.phase != Underrun::Phase::None || burstsWaiting) return true;
        for (const Open& o : stopsOpen)
            if (o.has) return true;
        return false;
    }

    // What waited for time to pass and has waited long enough is reported:
    // checked field by field, the stops (which only wait live) last.
    void advance(const Moment& now)
    {
        if (!now.timed) return;
        emitDue(&now);
        if (!live) return;
        standingByProjection(now);
        if (!waiting()) return;
        if (underrun.phase == Underrun::Phase::Open && !underrun.reportedOngoing && underrun.began.timed &&
            elapsed(underrun.began.ns, now.ns) >= kOngoingAfter) {
            underrun.reportedOngoing = true;
            Finding f = ongoingUnderrun();
            emit(f);
            underrun.f.id = f.id;
        }
        for (Open& o : stopsOpen)
            if (o.has && !o.reportedOngoing && o.began.timed && elapsed(o.began.ns, now.ns) >= kOngoingAfter) {
                o.reportedOngoing = true;
                Finding f = o.f;
                f.ongoing = true;
                close(f, last);
                f.text = ongoingStopText(o, f);
                emit(f);
                o.f.id = f.id;
            }
    }

    // The findings that waited for a next episode and are complete at `now`
    // (all of them at the end: null), in the order they became complete:
    // by the end of their last episode.
    void emitDue(const Moment* now)
    {
        struct Due {
            Moment lastEnd;
            Burst* burst; // none: the underrun
        };
        std::array<Due, kCauses + 1> due;
        std::size_t n = 0;
        const auto isDue = [&](const Moment& end) {
            return !now || (end.timed && elapsed(end.ns, now->ns) >= kGroupGap);
        };
        if (underrun.phase == Underrun::Phase::Waiting && isDue(underrun.refilled) && (!now || !mayStandAgain(*now)))
            due[n++] = Due{underrun.refilled, nullptr};
        for (std::uint32_t w = burstsWaiting; w; w &= w - 1) {
            Burst& b = bursts[std::countr_zero(w)];
            if (isDue(b.lastEnd)) due[n++] = Due{b.lastEnd, &b};
        }
        if (n > 1)
            std::sort(due.begin(), due.begin() + static_cast<std::ptrdiff_t>(n), [](const Due& a, const Due& b) {
                if (a.lastEnd.timed && b.lastEnd.timed && a.lastEnd.ns != b.lastEnd.ns) return a.lastEnd.ns < b.lastEnd.ns;
                return a.lastEnd.number < b.lastEnd.number;
            });
        for (std::size_t i = 0; i < n; ++i) {
            if (due[i].burst) emitBurst(*due[i].burst);
            else emitUnderrun();
        }
    }

    // ---- underruns -----------------------------------------------------------

    // Live: the segments stored ran out a second ago, by the last block and
    // the rate, and no block came to tell (the PC program fell silent): the
    // machine stands, and an underrun opens now, to be told as ongoing. The
    // block that comes next settles its times and its cause.
    void standingByProjection(const Moment& now)
    {
        if (underrun.phase == Underrun::Phase::Open || !model.running() || model.dry()) return;
        const std::optional<TimeNs> end = model.projectedEnd();
        if (!end || elapsed(*end, now.ns) < kOngoingAfter) return;
        motion::StandStill st;
        st.dryAfter = model.lastMovingNumber();
        st.timed = true;
        st.dry = *end;
        underrunEvidence(st, now);
        underrun.projected = true;
    }

    // Whether the machine may have stood still again less than kGroupGap
    // after the last episode, though no block told yet (a reply still on
    // its way, a PC program fallen silent): the segments stored then ran
    // out before. Waited for at most kGroupWait beyond the gap.
    bool mayStandAgain(const Moment& now) const
    {
        if (!model.running() || elapsed(underrun.refilled.ns, now.ns) >= kGroupGap + kGroupWait) return false;
        const std::optional<TimeNs> end = model.projectedEnd();
        return end && elapsed(underrun.refilled.ns, *end) < kGroupGap;
    }

    void resetWindow()
    {
        window = Window{};
        windowFromJob = false;
    }

    // Why the buffer ran dry, from the drain window.
    std::pair<Cause, std::string> why(const Moment& m)
    {
        if (!m.timed || !haveOrigin) return {Cause::Unknown, "the capture has no times to tell why"};
        const std::int64_t silenceMedian = silences.median(), replyMedian = replyDelays.median();
        Window w = window;
        // A silence still going on (live, while the machine stands) counts
        // as far as it has gone.
        if (!silenceTaken && lastController.timed && lastController.number != m.number) {
            const std::int64_t s = elapsed(lastController.ns, m.ns);
            if (s > w.silence) {
                w.silence = s;
                w.silenceFrom = lastController;
                w.silenceAfterFull = lastControllerFull;
            }
        }
        if (w.silence >= kLong && atLeastTimes(w.silence, kSilenceFactor, silenceMedian)) {
            if (w.silenceAfterFull)
                return {Cause::Refusals, "after the \"buffer full\" reply at " + place(w.silenceFrom) +
                                             " the PC program waited " + milliseconds(w.silence) +
                                             " before its next Data message, against a median silence of " +
                                             milliseconds(silenceMedian)};
            return {Cause::HostGap, "the PC program sent no Data message for " + milliseconds(w.silence) +
                                        " after the controller's message at " + place(w.silenceFrom) +
                                        ", against a median silence of " + milliseconds(silenceMedian)};
        }
        if (w.reply >= kLong && atLeastTimes(w.reply, kReplyFactor, replyMedian))
            return {Cause::SlowReplies, "the controller took " + milliseconds(w.reply) + " to answer with its " +
                                            std::string(instructionName(w.replyCode)) + " reply at " +
                                            place(w.replyTo) + ", against a median reply of " + milliseconds(replyMedian)};
        std::string text = "no silence of the PC program nor reply stood out (longest " + milliseconds(w.silence) +
                           " and " + milliseconds(w.reply) + "): the segments ran out faster than one round trip";
        // The rate the model measured over a real span; one below a pulse a
        // second (or beyond any motor's) would make a figure of nothing.
        if (const double rate = model.rate(); rate >= 1 && rate <= kMostPulsesPerSecond && w.segments > 0 && w.pulses > 0) {
            const double mean = static_cast<double>(w.pulses) / static_cast<double>(w.segments);
            text += ", some " + milliseconds(static_cast<std::int64_t>(std::min(mean / rate * 1e9, 1e18))) +
                    " each at the " + number(static_cast<std::int64_t>(rate)) + " pulses/s the status blocks show";
        }
        return {Cause::ShortSegments, text};
    }

    // A stand-still's moments, as the model gives them.
    static Moment dryMoment(const motion::StandStill& st, const Moment& m)
    {
        const std::uint64_t first = st.dryAfter ? st.dryAfter : st.dryBefore;
        return Moment{first ? first : m.number, st.timed, st.timed ? st.dry : m.ns};
    }
    static Moment resumedMoment(const motion::StandStill& st, const Moment& m)
    {
        return Moment{st.resumedBy ? st.resumedBy : m.number, st.timed, st.timed ? st.resumed : m.ns};
    }

    // The buffer ran dry (the model's stand-still `st`, seen at m): an
    // underrun opens, or the one waiting groups it when its last episode
    // ended less than kGroupGap before this one began.
    void underrunEvidence(const motion::StandStill& st, const Moment& m)
    {
        using Phase = Underrun::Phase;
        if (underrun.phase == Phase::Open) return;
        const Moment dry = dryMoment(st, m);
        const bool joins = underrun.phase == Phase::Waiting && dry.timed && underrun.refilled.timed &&
                           elapsed(underrun.refilled.ns, dry.ns) < kGroupGap;
        if (underrun.phase == Phase::Waiting && !joins) emitUnderrun();
        if (!joins) {
            auto [cause, text] = why(m);
            underrun.f = opened(Kind::Underrun, cause, dry);
            underrun.f.dryAfter = st.dryAfter;
            underrun.f.dryBefore = st.dryBefore;
            underrun.why = std::move(text);
            underrun.episodes = 0;
            underrun.stood = 0;
            underrun.reportedOngoing = false;
        }
        underrun.phase = Phase::Open;
        underrun.projected = false;
        underrun.began = dry;
    }

    // Motion resumed: the episode open ends.
    void refill(const motion::StandStill& st, const Moment& m)
    {
        if (underrun.phase != Underrun::Phase::Open) return;
        if (underrun.projected) {
            // The blocks now tell what the projection guessed.
            underrun.projected = false;
            const Moment dry = dryMoment(st, m);
            underrun.began = dry;
            if (underrun.episodes == 0) {
                underrun.f.start = since(dry);
                underrun.f.first = dry.number;
                underrun.f.dryAfter = st.dryAfter;
                underrun.f.dryBefore = st.dryBefore;
                auto [cause, text] = why(m);
                underrun.f.cause = cause;
                underrun.why = std::move(text);
            }
        }
        ++underrun.episodes;
        const Moment resumed = resumedMoment(st, m);
        underrun.refilled = resumed;
        underrun.stood = stoodUntil(resumed);
        close(underrun.f, resumed);
        underrun.phase = Underrun::Phase::Waiting;
    }

    // The time stood still by the episodes that refilled, and by the one
    // open up to `m`.
    std::int64_t stoodUntil(const Moment& m) const
    {
        if (!m.timed || !underrun.began.timed) return underrun.stood;
        return addDurations(underrun.stood, elapsed(underrun.began.ns, m.ns));
    }

    // The finding's stood still time: the episodes that refilled, and the
    // one open up to `now`.
    void setStood(Finding& f, const Moment* now) const
    {
        f.hasStood = f.timed && !f.clockWentBack;
        if (!f.hasStood) return;
        f.stood = now ? stoodUntil(*now) : underrun.stood;
    }

    std::string underrunText(const Finding& f, bool refilled) const
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
            text += ", until the segment stored at " + std::string(unit()) + " " + number(static_cast<std::int64_t>(f.last));
        else
            text += ", and had not moved again by " + std::string(unit()) + " " + number(static_cast<std::int64_t>(f.last));
        return text + ": " + underrun.why + ".";
    }

    Finding ongoingUnderrun() const
    {
        Finding f = underrun.f;
        f.count = underrun.episodes + 1;
        f.ongoing = true;
        close(f, last);
        setStood(f, &last);
        f.text = underrunText(f, false);
        return f;
    }

    void emitUnderrun()
    {
        Finding f = underrun.f;
        f.count = underrun.episodes;
        setStood(f, nullptr);
        f.text = underrunText(f, true);
        emit(f);
        underrun.phase = Underrun::Phase::None;
    }

    // The job ended: an underrun open is none (unless reported already),
    // one that waited is complete.
    void endJob(const Moment& m)
    {
        using Phase = Underrun::Phase;
        if (underrun.phase == Phase::Open) {
            if (underrun.episodes == 0 && !underrun.reportedOngoing)
                underrun.phase = Phase::None;
            else {
                if (underrun.episodes == 0) {
                    underrun.episodes = 1;
                    underrun.stood = stoodUntil(m);
                    close(underrun.f, m);
                }
                underrun.phase = Phase::Waiting;
            }
        }
        if (underrun.phase == Phase::Waiting) emitUnderrun();
    }

    // ---- bursts --------------------------------------------------------------

    Burst& burstOf(Cause cause) { return bursts[static_cast<int>(cause)]; }

    // Whether an episode that began at `first` joins the burst waiting.
    static bool joins(const Burst& b, const Moment& first)
    {
        return b.has && first.timed && b.lastEnd.timed && elapsed(b.lastEnd.ns, first.ns) < kGroupGap;
    }

    // One episode, from `first` to `m`: it joins the burst of its cause, or
    // starts the next one (`what`: its sentence without the full stop).
    void burst(Kind kind, Cause cause, const Moment& first, const Moment& m, std::string what)
    {
        Burst& b = burstOf(cause);
        if (joins(b, first)) {
            ++b.f.count;
            close(b.f, m);
        } else {
            if (b.has) emitBurst(b);
            b.has = true;
            b.f = opened(kind, cause, first);
            close(b.f, m);
            b.what = std::move(what);
        }
        waitOut(b, m);
    }

    // The burst's last episode ended at m: it waits for a next one.
    void waitOut(Burst& b, const Moment& m)
    {
        b.lastEnd = m;
        burstsWaiting |= 1u << static_cast<unsigned>(b.f.cause);
        if (!m.timed) emitBurst(b); // without times nothing groups
    }

    // The burst waits no more: reported, or carried on by a stop open again.
    void release(Burst& b)
    {
        b.has = false;
        burstsWaiting &= ~(1u << static_cast<unsigned>(b.f.cause));
    }

    // The sentence of a burst: its first episode's, and how many followed.
    std::string burstText(const std::string& what, const Finding& f, std::string_view upTo) const
    {
        std::string text = what;
        if (f.count > 1)
            text += "; " + number(static_cast<std::int64_t>(f.count)) + " such " +
                    std::string(kEpisodesOf[static_cast<int>(f.kind)]) + " less than 0.5 s apart, " +
                    std::string(upTo) + " " + std::string(unit()) + " " + number(static_cast<std::int64_t>(f.last));
        return text + ".";
    }

    void emitBurst(Burst& b)
    {
        Finding f = b.f;
        f.text = burstText(b.what, f, "up to");
        emit(f);
        release(b);
    }

    // ---- stops ---------------------------------------------------------------

    // The sentence of a stop's episode, without its full stop. `named`: a
    // Stop message came before the controller reported a stop by command.
    std::string stopText(const Finding& f, bool named, bool complete) const
    {
        std::string words;
        for (const motion::StopReasonBit& r : motion::kStopReasons)
            if (causeOf(r.reason) == f.cause) words = r.words;
        const std::string from = std::string(unit()) + " " + number(static_cast<std::int64_t>(f.first)) +
                                 (f.timed ? " (" + seconds(f.start, 3) + ")" : std::string());
        const std::string to = std::string(unit()) + " " + number(static_cast<std::int64_t>(f.last));
        std::string text;
        if (f.cause == Cause::Command && !named) {
            text = "The controller reported a stop by command (STOP bit 2) from " + from +
                   (complete ? " to " : ", still at ") + to + ", though no Stop message was seen";
        } else {
            text = "The controller stopped for " + words + (f.cause == Cause::Command ? " after the Stop message at " : " at ") +
                   from + (complete ? " and reported it until " : " and still reported it at ") + to;
        }
        if (f.hasPosition) {
            text += "; the tool got to about " + stepsText(f.position);
            bool unreached = false;
            for (std::int64_t s : f.storedUnreached) unreached |= s != 0;
            text += unreached ? ", short of " + stepsText(f.storedUnreached) + " steps stored" : ", every stored step";
        }
        return text;
    }

    // A stop still reported: its own sentence, or, when it joined the
    // stops of a burst, the burst's.
    std::string ongoingStopText(const Open& o, const Finding& f) const
    {
        if (f.count > 1) return burstText(o.what, f, "the last still reported at");
        return stopText(f, o.named, false) + ".";
    }

    void stopBits(unsigned state, const Moment& m)
    {
        const unsigned rising = state & ~stopState;
        // Most status blocks neither open nor hold a stop. A stop is open
        // exactly while its bit stays set, so the bits tell without a look
        // at the slots.
        if (!((state | stopState) & motion::kStopReasonBits)) {
            stopState = state;
            return;
        }
        for (std::size_t i = 0; i < kStopSlots; ++i) {
            const motion::StopReasonBit& r = motion::kStopReasons[i];
            const Cause cause = causeOf(r.reason);
            Open& o = stopsOpen[i];
            if (o.has && !(state & r.bit)) {
                // The bit fell: the episode waits as its cause's burst.
                close(o.f, m);
                o.f.ongoing = false;
                Burst& b = burstOf(cause);
                b.has = true;
                b.f = o.f;
                b.what = o.f.count > 1 ? std::move(o.what) : stopText(o.f, o.named, true);
                waitOut(b, m);
                o.has = false;
            }
            if (!o.has && (rising & r.bit)) {
                const bool named = cause == Cause::Command && stopCommand;
                const Moment first = named ? *stopCommand : m;
                Burst& b = burstOf(cause);
                o = Open{};
                o.has = true;
                o.began = first;
                o.named = named;
                if (joins(b, first)) {
                    // Less than kGroupGap after the last one: the same burst.
                    o.f = b.f;
                    ++o.f.count;
                    o.what = std::move(b.what);
                    release(b);
                    close(o.f, m);
                    continue;
                }
                if (b.has) emitBurst(b);
                o.f = opened(Kind::Stop, cause, first);
                close(o.f, m);
                // Where the machine was as it stopped (the model's job is
                // over: a stop leaves the buffer dry, which is no underrun).
                if (model.known()) {
                    o.f.hasPosition = true;
                    o.f.position = model.position();
                    o.f.storedUnreached = model.events().stopRising ? model.unreachedAtStop() : model.unreached();
                }
            } else if (o.has) {
                close(o.f, m);
            }
        }
        if (rising & motion::kStopCommandReceived) stopCommand.reset();
        stopState = state;
    }

    // ---- one message -----------------------------------------------------------

    void pcMessage(const FieldValues& v, const MessageFacts& facts, const Moment& m)
    {
        const std::uint8_t code = v.code();
        if (const auto& unanswered = facts.unanswered; unanswered && unanswered->code != control::kResetCode) {
            const Moment asked{unanswered->at, unanswered->timed, unanswered->ns};
            std::string text = "The PC's " + std::string(instructionName(unanswered->code)) + " message at " +
                               place(asked) + " got no reply before its next message at " + std::string(unit()) + " " +
                               number(static_cast<std::int64_t>(m.number));
            if (asked.timed && haveOrigin && m.timed && m.ns >= asked.ns)
                text += ", " + milliseconds(elapsed(unanswered->ns, m.ns)) + " later";
            burst(Kind::NoReply, Cause::Timeout, asked, m, std::move(text));
        }
        if (model.events().any() || underrun.projected) motionEvents(m);
        if (code == motion::kDataCode) {
            if (m.timed && !silenceTaken && lastController.timed) {
                const std::int64_t s = elapsed(lastController.ns, m.ns);
                silences.add(s);
                if (s > window.silence) {
                    window.silence = s;
                    window.silenceFrom = lastController;
                    window.silenceAfterFull = lastControllerFull;
                }
            }
            silenceTaken = true;
            // The segment refused is the last one sent before this one.
            // Compared only after a refusal: the text check costs on every
            // Data message otherwise.
            const bool changed = refusalOpen && !storedSinceRefusal && !facts.repeatsLastSent();
            if (changed) {
                burst(Kind::ResendDiffers, Cause::SegmentChanged, refusedAt, m,
                      "The Data message at " + place(refusedAt) + " was refused (buffer full), and the next one, at " +
                          std::string(unit()) + " " + number(static_cast<std::int64_t>(m.number)) +
                          ", sent another segment: the refused one was lost or changed");
            }
            refusalOpen = false;
            lastSentAt = m;
        } else if (code == kStopCode && v.has<motion::kStopCmd>() && motion::stopsMotion(v.value<motion::kStopCmd>())) {
            stopCommand = m;
        }
    }

    void refusal(Cause cause, std::optional<RequestPairing::Request> asked, const Moment& m, std::string what)
    {
        const Moment first = asked ? Moment{asked->at, asked->timed, asked->ns} : m;
        burst(Kind::Refused, cause, first, m, std::move(what));
    }

    // What the model made of the message fed last: a job's start, a
    // stand-still that opened or ended, the job's end.
    void motionEvents(const Moment& m)
    {
        const motion::Model::Events& ev = model.events();
        // Called where the model told something, or an underrun opened by
        // projection waits for the blocks.
        if (underrun.projected && underrun.phase == Underrun::Phase::Open && !ev.resumed &&
            model.lastMovingNumber() == m.number) {
            // Told as standing by projection, but this block shows the
            // machine moving: the stand-still ends here.
            motion::StandStill st;
            st.dryAfter = underrun.f.dryAfter;
            st.resumedBy = m.number;
            st.timed = underrun.began.timed && m.timed;
            st.dry = underrun.began.ns;
            st.resumed = std::max(m.ns, underrun.began.ns);
            underrun.projected = false;
            refill(st, m);
        }
        if (!ev.any()) return;
        if (ev.starting) windowFromJob = true;
        if (ev.began && windowFromJob) resetWindow();
        if (ev.resumed) {
            underrunEvidence(model.standStill(), m);
            refill(model.standStill(), m);
        }
        if (ev.dryOpened) underrunEvidence(model.standStill(), m);
        if (ev.jobEnded) endJob(m);
    }

    void statusBlock(const FieldValues& v, const Moment& m)
    {
        stopBits(v.value<motion::kStop>(), m);
        if (model.events().any() || underrun.projected) motionEvents(m);
    }

    // A status block with BUF 7, or a "buffer full" reply (Data's or
    // Information's).
    static bool fullBuffer(const FieldValues& v)
    {
        if (v.code() == motion::kDataCode && v.has<motion::kDataStatusSt>() &&
            v.value<motion::kDataStatusSt>() == motion::kBufferFull)
            return true;
        if (v.code() == kInformationCode && v.has<motion::kInformationSt>() && v.value<motion::kInformationSt>() != 0)
            return true;
        return (v.code() == motion::kDataCode || v.code() == kInformationCode) && v.has<motion::kBuf>() &&
               static_cast<int>(v.value<motion::kBuf>()) >= motion::kBufferSegments;
    }

    void controllerMessage(const FieldValues& v, const MessageFacts& facts, const Moment& m)
    {
        const std::uint8_t code = v.code();
        const auto& answered = facts.answered;
        // A full buffer, which this reply may show, starts the drain window
        // anew; its own delay belongs to the new one.
        if (fullBuffer(v)) resetWindow();
        if (answered && answered->timed && m.timed) {
            const std::int64_t d = elapsed(answered->ns, m.ns);
            replyDelays.add(d);
            if (d > window.reply) {
                window.reply = d;
                window.replyTo = m;
                window.replyCode = code;
            }
            if (v.instruction()) {
                auto& of = replyDelaysOf[code];
                if (!of) of = std::make_unique<TimeHistogram>();
                // The median is worked out only for a reply long enough to
                // be slow: most are not.
                const std::int64_t median = d >= kLong && of->count() >= kMedianReplies ? of->median() : 0;
                if (median > 0 && atLeastTimes(d, kSlowReplyFactor, median))
                    burst(Kind::SlowReply, Cause::ControllerDelay, Moment{answered->at, true, answered->ns}, m,
                          "The controller took " + milliseconds(d) + " to answer the " +
                              std::string(instructionName(code)) + " message at " + std::string(unit()) + " " +
                              number(static_cast<std::int64_t>(answered->at)) + " (median " + milliseconds(median) +
                              " for that instruction)");
                of->add(d);
            }
        }
        lastController = m;
        lastControllerFull = false;
        silenceTaken = false;

        if (const std::optional<Cause> cause = refusalOf(v, facts.event))
            refusal(*cause, answered, m, refusalText(*cause, v, answered, m));

        switch (code) {
        case motion::kDataCode: {
            const motion::StoredSegment& s = facts.stored;
            switch (facts.event) {
            case motion::DataEvent::Stored:
                storedSinceRefusal = true;
                if (!s.segment.endOfData()) {
                    window.pulses += s.segment.nbr;
                    ++window.segments;
                }
                break;
            case motion::DataEvent::BufferFull:
                lastControllerFull = true;
                refusalOpen = lastSentAt.number != 0; // a refusal before any Data message refuses nothing
                refusedAt = lastSentAt;
                storedSinceRefusal = false;
                break;
            default: break;
            }
            statusBlock(v, m);
            return;
        }
        case kInformationCode:
            lastControllerFull = v.value<motion::kInformationSt>() != 0;
            statusBlock(v, m);
            return;
        case kStopCode:
            if (v.has<motion::kStopRet>()) stopBits(v.value<motion::kStopRet>(), m);
            if (model.events().any() || underrun.projected) motionEvents(m);
            return;
        default:
            if (model.events().any() || underrun.projected) motionEvents(m);
            return;
        }
    }

    // The sentence of a refusal (refusalOf's cause) at m.
    std::string refusalText(Cause cause, const FieldValues& v, std::optional<RequestPairing::Request> answered,
                            const Moment& m) const
    {
        switch (cause) {
        case Cause::NotUsbMode:
            return "The controller refused the Data message at " +
                   place(answered ? Moment{answered->at, answered->timed, answered->ns} : m) +
                   ": it is not in USB mode (ST 0x00)";
        case Cause::CommandRefused:
            return "The controller refused a Buffer Management command (RET 0x00) at " + place(m);
        case Cause::TableWriteFailed: return "A table write failed or its table is in use (RET 0x00) at " + place(m);
        default:
            if (v.code() == motion::kDataCode)
                return "The controller answered a Data message with ST 0x" + hex(v.value<motion::kDataStatusSt>()) +
                       ", a status the protocol does not name, at " + place(m);
            return "The controller's " + std::string(instructionName(v.code())) + " reply at " + place(m) +
                   " carries a status the protocol does not name";
        }
    }

    static std::string hex(std::uint32_t v)
    {
        char text[8];
        std::snprintf(text, sizeof text, "%02X", v & 0xFF);
        return text;
    }

    void feed(const CaptureRecord& record, const FieldValues& v)
    {
        if (!record.isMessage && !record.leftOut) return;
        // The message's moment, written into `last` field by field: a
        // value built here and copied whole would wait for its narrow
        // stores on every message.
        last.number = record.number;
        last.timed = record.hasTime;
        last.ns = record.timeNs;
        const Moment& m = last;
        if (m.timed) {
            if (!haveOrigin) {
                haveOrigin = true;
                origin = m.ns;
            }
            digits = std::max(digits, record.timeDigits);
            haveLastTime = true;
            lastTime = m.ns;
        }
        // Most messages come while nothing waits for time to pass.
        if (live || underrun.phase == Underrun::Phase::Waiting || burstsWaiting) advance(m);
        const MessageFacts& facts = factsMaker.add(record, v);
        model.feed(record, v, facts);
        if (record.direction == Direction::Pc)
            pcMessage(v, facts, m);
        else
            controllerMessage(v, facts, m);
    }

    std::optional<RequestPairing::Request> finish()
    {
        // The capture's last PC message makes no finding.
        std::optional<RequestPairing::Request> waited = factsMaker.finish();
        emitDue(nullptr);
        if (underrun.phase == Underrun::Phase::Open) {
            Finding f = ongoingUnderrun();
            emit(f);
            underrun.phase = Underrun::Phase::None;
        }
        for (Open& o : stopsOpen)
            if (o.has) {
                o.f.ongoing = true;
                close(o.f, last);
                o.f.text = ongoingStopText(o, o.f);
                emit(o.f);
                o.has = false;
            }
        return waited;
    }
};

Engine::Engine(bool textDump, bool live, Report report)
    : state_(std::make_unique<State>(textDump, live, std::move(report)))
{
}

Engine::~Engine() = default;

void Engine::feed(const CaptureRecord& record, const FieldValues& message) { state_->feed(record, message); }

void Engine::idle(TimeNs now) { state_->advance(Moment{state_->last.number, true, now}); }

std::optional<RequestPairing::Request> Engine::finish() { return state_->finish(); }

const MessageFacts& Engine::facts() const { return state_->factsMaker.facts(); }

const TimeHistogram* Engine::replyTimes(std::uint8_t code) const { return state_->replyDelaysOf[code].get(); }

Position Engine::position() const
{
    Position p;
    const motion::Model& model = state_->model;
    p.stored = model.stored();
    p.known = model.known();
    if (p.known) p.reached = model.position();
    return p;
}

const motion::Model& Engine::model() const { return state_->model; }

motion::Model& Engine::model() { return state_->model; }

std::optional<TimeNs> Engine::lastTime() const
{
    if (!state_->haveLastTime) return std::nullopt;
    return state_->lastTime;
}

std::optional<TimeNs> Engine::origin() const
{
    if (!state_->haveOrigin) return std::nullopt;
    return state_->origin;
}

} // namespace vornlog::findings
