// The findings engine: it feeds every message to each detector (one per
// kind of finding, analysis/detectors/), numbers what they report, and
// reports the findings that waited for a next episode once time has passed
// them by.
#include "findings.h"

#include <algorithm>
#include <bit>
#include <tuple>
#include <utility>

#include "analysis/detectors/no_reply.h"
#include "analysis/detectors/refused.h"
#include "analysis/detectors/resend_differs.h"
#include "analysis/detectors/slow_reply.h"
#include "analysis/detectors/stop.h"
#include "analysis/detectors/underrun.h"

namespace vornlog::findings {

// The detectors, one a line. Within one message they report in this order
// (and every one's motion() after every one's message()); as time passes
// and at the end, their open findings in this order too.
using Detectors = std::tuple<
    NoReply,
    SlowReply,
    Refused,
    Underrun,
    Stop,
    ResendDiffers>;

template <typename... D>
constexpr bool allDetectors(const std::tuple<D...>*)
{
    return (Detector<D> && ...);
}
static_assert(allDetectors(static_cast<const Detectors*>(nullptr)),
              "each detector is built on the desk and reads every message (analysis/detectors/detector.h)");

std::optional<Kind> kindNamed(std::string_view name)
{
    for (int k = 0; k < kKinds; ++k)
        if (kKindNames[k] == name) return static_cast<Kind>(k);
    return std::nullopt;
}

struct Engine::State {
    State(bool textDump, bool live, Report report)
        : desk(textDump, live, model, std::move(report)), detectors(detectorsOn(desk))
    {
    }

    template <std::size_t... I>
    static Detectors detectorsOn(Desk& desk, std::index_sequence<I...>)
    {
        return Detectors(std::tuple_element_t<I, Detectors>(desk)...);
    }
    static Detectors detectorsOn(Desk& desk)
    {
        return detectorsOn(desk, std::make_index_sequence<std::tuple_size_v<Detectors>>());
    }

    // Each detector in turn.
    template <typename F>
    void each(F&& f)
    {
        std::apply([&](auto&... d) { (f(d), ...); }, detectors);
    }

    motion::Model model;
    Desk desk;
    MessageFactsMaker factsMaker;
    Detectors detectors;

    // Whether a finding waits for time to pass beyond its last episode.
    bool holding()
    {
        if (desk.burstsWaiting()) return true;
        bool any = false;
        each([&](auto& d) {
            if constexpr (requires { d.holding(); }) any |= d.holding();
        });
        return any;
    }

    // What waited for time to pass and has waited long enough is reported.
    void advance(const Moment& now)
    {
        if (!now.timed) return;
        emitDue(&now);
        if (!desk.live()) return;
        each([&](auto& d) {
            if constexpr (requires { d.live(now); }) d.live(now);
        });
    }

    // The findings that waited for a next episode and are complete at `now`
    // (all of them at the end: null), in the order they became complete:
    // by the end of their last episode. The detectors' own first, then the
    // bursts, by cause.
    void emitDue(const Moment* now)
    {
        // Left uninitialised: taken for nearly every message while a burst
        // waits, and mostly nothing is due.
        struct Due {
            const Moment* lastEnd;
            Desk::Burst* burst; // none: detector `detector`'s own
            int detector;
        };
        constexpr int kDetectors = static_cast<int>(std::tuple_size_v<Detectors>);
        Due due[kCauses + kDetectors];
        std::size_t n = 0;
        int index = 0;
        each([&](auto& d) {
            if constexpr (requires { d.due(now); })
                if (const Moment* end = d.due(now)) due[n++] = Due{end, nullptr, index};
            ++index;
        });
        for (std::uint32_t w = desk.burstsWaiting(); w; w &= w - 1) {
            Desk::Burst& b = desk.burstOf(static_cast<Cause>(std::countr_zero(w)));
            if (Desk::isDue(b.lastEnd, now)) due[n++] = Due{&b.lastEnd, &b, -1};
        }
        if (n == 0) return;
        if (n > 1)
            std::sort(due, due + n, [](const Due& a, const Due& b) {
                const Moment& x = *a.lastEnd;
                const Moment& y = *b.lastEnd;
                if (x.timed && y.timed && x.ns != y.ns) return x.ns < y.ns;
                return x.number < y.number;
            });
        for (std::size_t i = 0; i < n; ++i) {
            if (due[i].burst) {
                desk.emitBurst(*due[i].burst);
                continue;
            }
            int at = 0;
            each([&](auto& d) {
                if constexpr (requires { d.emitDue(); })
                    if (at == due[i].detector) d.emitDue();
                ++at;
            });
        }
    }

    void feed(const CaptureRecord& record, const FieldValues& v)
    {
        if (!record.isMessage && !record.leftOut) return;
        desk.at(record);
        const Moment& m = desk.last();
        // Most messages come while nothing waits for time to pass.
        if (desk.live() || holding()) advance(m);
        const MessageFacts& facts = factsMaker.add(record, v);
        model.feed(record, v, facts);
        const Message in{v, facts, model, m, record.direction == Direction::Pc};
        each([&](auto& d) { d.message(in); });
        each([&](auto& d) {
            if constexpr (requires { d.motion(in); }) d.motion(in);
        });
    }

    std::optional<RequestPairing::Request> finish()
    {
        // The capture's last PC message makes no finding.
        std::optional<RequestPairing::Request> waited = factsMaker.finish();
        emitDue(nullptr);
        each([&](auto& d) {
            if constexpr (requires { d.finish(); }) d.finish();
        });
        return waited;
    }
};

Engine::Engine(bool textDump, bool live, Report report)
    : state_(std::make_unique<State>(textDump, live, std::move(report)))
{
}

Engine::~Engine() = default;

void Engine::feed(const CaptureRecord& record, const FieldValues& message) { state_->feed(record, message); }

void Engine::idle(TimeNs now) { state_->advance(Moment{state_->desk.last().number, true, now}); }

std::optional<RequestPairing::Request> Engine::finish() { return state_->finish(); }

const MessageFacts& Engine::facts() const { return state_->factsMaker.facts(); }

const TimeHistogram* Engine::replyTimes(std::uint8_t code) const
{
    return std::get<SlowReply>(state_->detectors).replyTimes(code);
}

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
    if (!state_->desk.haveLastTime()) return std::nullopt;
    return state_->desk.lastTime();
}

std::optional<TimeNs> Engine::origin() const
{
    if (!state_->desk.haveOrigin()) return std::nullopt;
    return state_->desk.origin();
}

} // namespace vornlog::findings
