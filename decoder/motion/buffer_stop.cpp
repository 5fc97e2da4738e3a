// The messages around the stream of Data messages: Buffer Management (reset,
// segment source, execute) and Stop.
#include "../lines.h"
#include "motion.h"

namespace vornlog::motion {

namespace {

constexpr int kSourceFlash = 0x02;

constexpr CodeText kBufferCommands[] = {
    {0x00, "Reset\n"},
    {0x01, "Source USB\n"},
    {kSourceFlash, "Source Flash\n"},
    {0x80, "Execute\n"},
};

// RET of the Buffer Management reply: 0 is a refusal; any other value is
// OK and shown as 0xFF.
constexpr CodeText kBufferResults[] = {
    {0xFF, "OK\n"},
};

// 0x02 is not a Stop command.
constexpr CodeText kStopCommands[] = {
    {0x00, "Fast stop\n"},
    {0x01, "Slow stop\n"},
    {0x03, kGetStatus},
};

} // namespace

const char* stopCommandText(int cmd) { return lookup(kStopCommands, cmd); }

void pcBufferManagement(Message& m)
{
    const int cmd = m.u8();
    if (!putCmdLine(m.out, cmd, kBufferCommands)) return;
    if (cmd == kSourceFlash) {
        // The place in the controller's flash memory the segments come from.
        const int bck = m.u8();
        put<"     BCK=0x%02X\n">(m.out, bck);
        const std::int32_t adr = m.value(2);
        put<"     ADR=0x%04X\n">(m.out, adr);
    }
}

void controllerBufferManagement(Message& m)
{
    const int ret = m.u8() == 0 ? 0x00 : 0xFF;
    putRetLine(m.out, ret, kBufferResults, kUnknownCommand);
}

void pcStop(Message& m)
{
    putCmdLine(m.out, m.u8(), kStopCommands);
}

void controllerStop(Message& m)
{
    const int ret = m.u8();
    put<"     RET=0x%02X\n">(m.out, ret);
    putBits(m.out, kStopStateBits, ret);
    putSegmentLine(m);
    putPulsesLeftLine(m);
}

} // namespace vornlog::motion
