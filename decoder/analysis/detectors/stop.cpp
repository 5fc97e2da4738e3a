#include "stop.h"

namespace vornlog::findings {

namespace {

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

// The words of the STOP bit a stop by command reports ("STOP bit 2").
constexpr std::string_view commandBitWords()
{
    for (const motion::StopReasonBit& r : motion::kStopReasons)
        if (r.reason == motion::StopReason::Command) {
            std::string_view words = r.words;
            words.remove_prefix(words.find('(') + 1);
            words.remove_suffix(1);
            return words;
        }
    return {};
}

} // namespace

void Stop::live(const Moment& now)
{
    for (Open& o : open_)
        if (o.has && !o.reportedOngoing && o.began.timed && elapsed(o.began.ns, now.ns) >= kOngoingAfter) {
            o.reportedOngoing = true;
            Finding f = o.f;
            f.ongoing = true;
            desk_.close(f, desk_.last());
            f.text = ongoingText(o, f);
            desk_.emit(f);
            o.f.id = f.id;
        }
}

void Stop::finish()
{
    for (Open& o : open_)
        if (o.has) {
            o.f.ongoing = true;
            desk_.close(o.f, desk_.last());
            o.f.text = ongoingText(o, o.f);
            desk_.emit(o.f);
            o.has = false;
        }
}

void Stop::changed(unsigned state, const Message& in)
{
    const Moment& m = in.m;
    const motion::Model& model = in.model;
    const unsigned rising = state & ~state_;
    for (std::size_t i = 0; i < kSlots; ++i) {
        const motion::StopReasonBit& r = motion::kStopReasons[i];
        const Cause cause = causeOf(r.reason);
        Open& o = open_[i];
        if (o.has && !(state & r.bit)) {
            // The bit fell: the episode waits as its cause's burst.
            desk_.close(o.f, m);
            o.f.ongoing = false;
            Desk::Burst& b = desk_.burstOf(cause);
            b.has = true;
            b.f = o.f;
            b.what = o.f.count > 1 ? std::move(o.what) : text(o.f, o.named, true);
            desk_.waitOut(b, m);
            o.has = false;
        }
        if (!o.has && (rising & r.bit)) {
            const bool named = cause == Cause::Command && stopCommand_;
            const Moment first = named ? *stopCommand_ : m;
            Desk::Burst& b = desk_.burstOf(cause);
            o = Open{};
            o.has = true;
            o.began = first;
            o.named = named;
            if (Desk::joins(b, first)) {
                // Less than 0.5 s after the last one: the same burst.
                o.f = b.f;
                ++o.f.count;
                o.what = std::move(b.what);
                desk_.release(b);
                desk_.close(o.f, m);
                continue;
            }
            if (b.has) desk_.emitBurst(b);
            o.f = desk_.opened(Kind::Stop, cause, first);
            desk_.close(o.f, m);
            // Where the machine was as it stopped (the model's job is
            // over: a stop leaves the buffer dry, which is no underrun).
            if (model.known()) {
                o.f.hasPosition = true;
                o.f.position = model.position();
                o.f.storedUnreached = model.events().stopRising ? model.unreachedAtStop() : model.unreached();
            }
        } else if (o.has) {
            desk_.close(o.f, m);
        }
    }
    if (rising & motion::kStopCommandReceived) stopCommand_.reset();
    state_ = state;
}

std::string Stop::text(const Finding& f, bool named, bool complete) const
{
    std::string words;
    for (const motion::StopReasonBit& r : motion::kStopReasons)
        if (causeOf(r.reason) == f.cause) words = r.words;
    const std::string from =
        desk_.numbered(f.first) + (f.timed ? " (" + seconds(f.start, 3) + ")" : std::string());
    const std::string to = desk_.numbered(f.last);
    std::string text;
    if (f.cause == Cause::Command && !named) {
        text = "The controller reported a stop by command (" + std::string(commandBitWords()) + ") from " + from +
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

// A stop still reported: its own sentence, or, when it joined the stops of
// a burst, the burst's.
std::string Stop::ongoingText(const Open& o, const Finding& f) const
{
    if (f.count > 1) return desk_.burstText(o.what, f, "the last still reported at");
    return text(f, o.named, false) + ".";
}

} // namespace vornlog::findings
