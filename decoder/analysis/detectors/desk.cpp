#include "detector.h"

#include <algorithm>
#include <cstdio>

#include "protocol/instructions.h"

namespace vornlog::findings {

// What the episodes of a burst are called in its sentence ("3 such stops
// less than 0.5 s apart"), by kind.
constexpr std::string_view kEpisodesOf[kKinds] = {
    "stand-stills", "stops", "unanswered messages", "replies", "changed resends", "replies",
};

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

std::string Desk::place(const Moment& m) const
{
    std::string text = numbered(m.number);
    if (m.timed && haveOrigin_) text += " (" + seconds(elapsed(origin_, m.ns), 3) + ")";
    return text;
}

std::string Desk::numbered(std::uint64_t n) const { return std::string(unit()) + " " + std::to_string(n); }

Finding Desk::opened(Kind kind, Cause cause, const Moment& first) const
{
    Finding f;
    f.kind = kind;
    f.cause = cause;
    f.first = f.last = first.number;
    f.timed = first.timed && haveOrigin_;
    f.start = f.end = since(first);
    return f;
}

void Desk::close(Finding& f, const Moment& m) const
{
    f.last = m.number;
    if (f.timed && m.timed) f.end = since(m);
    f.clockWentBack = f.timed && f.end < f.start;
}

void Desk::emit(Finding& f)
{
    if (f.id == 0) f.id = nextId_++;
    f.digits = digits_;
    if (f.clockWentBack) f.text += " The capture's clock went back between its start and end: no duration is given.";
    report_(f);
}

void Desk::episode(Kind kind, Cause cause, const Moment& first, const Moment& m, std::string what)
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

void Desk::waitOut(Burst& b, const Moment& m)
{
    b.lastEnd = m;
    burstsWaiting_ |= 1u << static_cast<unsigned>(b.f.cause);
    if (!m.timed) emitBurst(b); // without times nothing groups
}

void Desk::release(Burst& b)
{
    b.has = false;
    burstsWaiting_ &= ~(1u << static_cast<unsigned>(b.f.cause));
}

std::string Desk::burstText(const std::string& what, const Finding& f, std::string_view upTo) const
{
    std::string text = what;
    if (f.count > 1)
        text += "; " + number(static_cast<std::int64_t>(f.count)) + " such " +
                std::string(kEpisodesOf[static_cast<int>(f.kind)]) + " less than 0.5 s apart, " + std::string(upTo) +
                " " + numbered(f.last);
    return text + ".";
}

void Desk::emitBurst(Burst& b)
{
    Finding f = b.f;
    f.text = burstText(b.what, f, "up to");
    emit(f);
    release(b);
}

} // namespace vornlog::findings
