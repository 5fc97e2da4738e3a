#include "steps_csv.h"

#include <cstdint>
#include <optional>

#include "../progress.h"
#include "motion.h"

namespace vornlog {

namespace {

using namespace motion;

constexpr std::uint8_t kData = 0x44;
constexpr std::uint8_t kStored = 0x01;

// The last Data message the PC sent: the segment a stored-data reply confirms.
struct Segment {
    unsigned cmd = 0;
    std::int32_t nbr = 0;
    std::int32_t steps[5]{};
    int pwm = 0;
    int fAcc = 0;
    int fDec = 0;
    std::int32_t nbrDec = 0;
};

Segment readSegment(Bytes& bytes)
{
    Segment s;
    s.cmd = bytes.u8();
    s.nbr = bytes.value(4);
    for (std::int32_t& axis : s.steps) axis = bytes.value(4) / 2;
    if (s.cmd & kPwmBit) s.pwm = bytes.u8();
    if (s.cmd & kAccelerationBit) {
        s.fAcc = bytes.u8();
        s.fDec = bytes.u8();
        s.nbrDec = bytes.value(4);
    }
    return s;
}

void writeRow(Out& dest, Segment s, int buf, std::int32_t seg)
{
    if (s.cmd & kEndOfDataBit) {
        put<"%d;-\n">(dest, seg);
        return;
    }
    // An axis whose direction bit is 0 moves in reverse. The sign is set on
    // this row's copy, so a second confirmation of the same segment shows
    // the same signs as the first.
    for (int n = 0; n < 5; ++n)
        if (!(s.cmd & (1 << n))) s.steps[n] = -s.steps[n];
    put<"%d;%d%%;%d;%d;%d;%d;%d;%d">(dest, seg, bufferPercent(buf), s.nbr, s.steps[0], s.steps[1], s.steps[2],
                                    s.steps[3], s.steps[4]);
    if (s.cmd & kPwmBit)
        put<";%d">(dest, s.pwm);
    else
        put<";">(dest);
    if (s.cmd & kAccelerationBit)
        put<";%d;%d;%d">(dest, s.fAcc, s.fDec, s.nbrDec);
    else
        put<";;;">(dest);
    put<"\n">(dest);
}

} // namespace

void writeStepsCsv(LineReader& in, Out& dest, Out& console, Progress& progress)
{
    put<"Cur_seg;Buffer;Nbr pulse;S1;S2;S3;S4;S5;PWM;F_ACC;F_DEC;Nbr dec\n">(dest);
    put<"\n">(console);

    // Nothing is pending before the first Data message: a confirmation
    // that comes before it writes no row rather than an invented one.
    std::optional<Segment> pending;
    std::string_view text;
    while (!dest.failed() && in.next(text)) {
        progress.count();
        CaptureLine line;
        if (!parseCaptureLine(text, line)) continue;
        Bytes bytes(line.field);
        if (bytes.u8() != kData) continue;
        if (line.direction == Direction::Pc) {
            pending = readSegment(bytes);
            continue;
        }
        if (bytes.u8() != kStored || !pending) continue;
        const int buf = bytes.u8();
        const std::int32_t seg = bytes.value(3);
        writeRow(dest, *pending, buf, seg);
    }
}

} // namespace vornlog
