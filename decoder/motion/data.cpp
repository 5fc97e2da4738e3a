// The Data message that streams one motion segment into the controller's
// buffer, and the controller's status replies (to Data and to Information),
// which carry the status block.
#include "../lines.h"
#include "motion.h"

namespace vornlog::motion {

namespace {

constexpr std::uint8_t kInformation = 0x49;

// CMD of a Data message. An axis bit at 0 reverses the axis; a bit at 1
// writes nothing.
constexpr BitText kDataCmdBits[] = {
    {0, nullptr, "S1 reversed"},
    {1, nullptr, "S2 reversed"},
    {2, nullptr, "S3 reversed"},
    {3, nullptr, "S4 reversed"},
    {4, nullptr, "S5 reversed"},
    {5, "Acceleration information is present", nullptr},
    {6, "PWM information is present", nullptr},
};
// CMD bit 7: the message ends the data, nothing follows CMD.
constexpr BitText kDataEndBit[] = {
    {7, "End of data", nullptr},
};

// ST of the Data reply.
constexpr CodeText kDataStatus[] = {
    {0x00, "Error not in USB mode\n"},
    {0x01, "Data stored in Buffer\n"},
    {0xFF, "Buffer full, data not stored\n"},
};

// ST of the Information reply: any nonzero value is shown as 0xFF.
constexpr CodeText kInformationStatus[] = {
    {0x00, "Buffer not full\n"},
    {0xFF, "Buffer full\n"},
};

constexpr BitText kFlagBits[] = {
    {0, "Steps in progress", "No steps in progress"},
    {1, "Stop is pending", "No stop pending"},
    {3, "Source:USB", "Source:Flash"},
    {4, "PWM:on", "PWM:off"},
    {5, "Origin/End override:enabled", "Origin/End override:disabled"},
    {6, "Motors on", "Motors off"},
    {7, "Origin/End reversed:enabled", "Origin/End reversed:disabled"},
};

// Bit 3 is active low: it reads 1 when the PWM_ON/OFF input is off.
constexpr BitText kInputBits[] = {
    {0, "PWM:auto", "PWM:manual"},
    {1, "Axis limits:open", "Axis limits:close"},
    {2, "Tool sensor:open", "Tool sensor:close"},
    {3, "PWM_ON/OFF:off", "PWM_ON/OFF:on"},
    {4, "IO1:5V", "IO1:0V"},
    {5, "Prog/Stop:open", "Prog/Stop:close"},
};

// The keys pressed on the keypad; bit 2 says whether one is connected.
constexpr BitText kKeybBits[] = {
    {0, "ESC", nullptr},
    {1, "OK", nullptr},
    {2, "Keyboard not detected", "Keyboard detected"},
    {4, "LEFT", nullptr},
    {5, "DOWN", nullptr},
    {6, "UP", nullptr},
    {7, "RIGHT", nullptr},
};

constexpr BitText kStopStateBitTable[] = {
    {1, "Step activity stopped", "Step activity running"},
    {2, "Stop command has been received", "No stop command has been received"},
    {4, "Stop is due to an axis limit switch", nullptr},
    {5, "Stop is due to a sensor switch", nullptr},
    {6, "Stop is due to PROG/STOP button", nullptr},
    {7, "Stop is due to end of data processed from the buffer", nullptr},
};

void putStatusBlock(Message& m)
{
    const int buf = m.u8();
    put<"     BUF=0x%02X\t-> Buffer %d%%\n">(m.out, buf, bufferPercent(buf));
    putSegmentLine(m);
    const int flag = m.u8();
    put<"     FLAG=0x%02X\n">(m.out, flag);
    putBits(m.out, kFlagBits, flag);
    const int input = m.u8();
    put<"     INPUT=0x%02X\n">(m.out, input);
    putBits(m.out, kInputBits, input);
    const std::uint8_t pwma = m.u8();
    const std::uint8_t pwmm = m.u8();
    putPwmValues(m.out, pwma, pwmm);
    const int keyb = m.u8();
    put<"     KEYB=0x%02X\n">(m.out, keyb);
    putBits(m.out, kKeybBits, keyb);
    const int stop = m.u8();
    put<"     STOP=0x%02X\n">(m.out, stop);
    putBits(m.out, kStopStateBits, stop);
    putPulsesLeftLine(m);
}

} // namespace

const std::span<const BitText> kStopStateBits = kStopStateBitTable;

void putSegmentLine(Message& m)
{
    const std::int32_t seg = m.value(3);
    put<"     SEG=0x%06X\t-> segment number being processed:%d\n">(m.out, seg, seg);
}

void putPulsesLeftLine(Message& m)
{
    const std::int32_t nbr = m.value(4);
    put<"     NBR=0x%08X -> %d pulses left for the current segment\n">(m.out, nbr, nbr);
}

void pcData(Message& m)
{
    const unsigned cmd = m.u8();
    put<"     CMD=0x%02X\n">(m.out, cmd);
    if (cmd & kEndOfDataBit) {
        putBits(m.out, kDataEndBit, cmd);
        return;
    }
    putBits(m.out, kDataCmdBits, cmd);

    const std::int32_t nbr = m.value(4);
    put<"     NBR=0x%08X -> %d pulses\n">(m.out, nbr, nbr);
    // The steps of an axis are half its value, truncated toward zero; the
    // direction bits do not change the sign shown here.
    for (int axis = 1; axis <= 5; ++axis) {
        const std::int32_t v = m.value(4);
        put<"     S%d=0x%08X -> %d steps\n">(m.out, axis, v, v / 2);
    }
    if (cmd & kPwmBit) {
        const int pwm = m.u8();
        put<"     PWM=0x%02X\t-> %d => %d%%\n">(m.out, pwm, pwm, pwmPercent(pwm));
    }
    if (cmd & kAccelerationBit) {
        const int fAcc = m.u8();
        put<"     F_ACC=0x%02X=%d\n">(m.out, fAcc, fAcc);
        const int fDec = m.u8();
        put<"     F_DEC=0x%02X=%d\n">(m.out, fDec, fDec);
        const std::int32_t nbrDec = m.value(4);
        put<"     NBR_DEC=0x%08X -> %d pulses\n">(m.out, nbrDec, nbrDec);
    }
}

void controllerStatus(Message& m)
{
    int st = m.u8();
    std::span<const CodeText> statuses = kDataStatus;
    if (m.code == kInformation) {
        st = st == 0 ? 0x00 : 0xFF;
        statuses = kInformationStatus;
    }
    put<"     ST=0x%02X\t-> ">(m.out, st);
    completeLine(m.out, statuses, st, kUnknownStatus);
    putStatusBlock(m);
}

} // namespace vornlog::motion
