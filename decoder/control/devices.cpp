// IO1 (0x47), Motors ON/OFF (0x4D), Override Origin/End (0x4F) and PWM
// (0x50): a one-byte command from the PC, the resulting state from the
// controller. A reply is decoded by itself, whatever the PC asked.
#include <span>

#include "../setup_fields.h"
#include "control.h"
#include "../lines.h"

namespace vornlog::control {

namespace {

constexpr CodeText kIo1Commands[] = {
    {0x00, "Set IO1 pin low\n"},
    {0x01, "Set IO1 pin high\n"},
    {0x02, "Read IO1 pin setting\n"},
    {0x03, "Change IO1 pin setting\n"},
};

constexpr CodeText kIo1Levels[] = {
    {0x00, "IO1 pin is low\n"},
    {0x01, "IO1 pin is high\n"},
};

constexpr CodeText kMotorsCommands[] = {
    {0x00, "Set Motors OFF\n"},
    {0x01, "Set Motors ON\n"},
    {0x02, "Read current status\n"},
    {0x03, ""}, // set the delay: the MOFF line continues the CMD line
};

constexpr CodeText kMotorsStates[] = {
    {0x00, "Motors are OFF\n"},
    {0x01, "Motors are ON\n"},
};

constexpr CodeText kOverrideCommands[] = {
    {0x00, "Do not override=use Origin/End switch\n"},
    {0x01, "Override=move without taking care of the switches\n"},
    {0x02, kGetStatus},
};

// Override status, the controller's reply (bits 4 to 7 not shown).
constexpr BitText kOverrideBits[] = {
    {0, "override = do not use the ORIGIN/END switches", "no override = use the ORIGIN/END switches"},
    {1, "current table is configured to use the ORIGIN/END switches",
        "current table does not support the use of the switches"},
    {2, "ORIGIN contact open", "ORIGIN contact close"},
    {3, "END contact open", "END contact close"},
};

// The PC's PWM commands; the first two also name the controller's PWM state.
constexpr CodeText kPwmCommands[] = {
    {0x00, "PWM off\n"},
    {0x01, "PWM on\n"},
    {0x02, kGetStatus},
};
constexpr std::span<const CodeText> kPwmStates = std::span(kPwmCommands).first(2);

// PWM mode, AMO of the controller's PWM reply (bits 2 to 7 not shown).
constexpr BitText kPwmModeBits[] = {
    {0, "Mode auto", "Mode manual"},
    {1, "PWM_ON/OFF in position ON", "PWM_ON/OFF in position OFF"},
};

// An IO1 setting byte: its field line, then the bit lines of bits 0 to 2.
void putIo1Setting(Out& out, std::uint8_t value)
{
    put<"     VAL=0x%02X\n">(out, value);
    putBits(out, kIo1Bits, value);
}

} // namespace

void pcIo1(Message& message)
{
    const std::uint8_t cmd = message.u8();
    if (!putCmdLine(message.out, cmd, kIo1Commands)) return;
    if (cmd == 0x03) putIo1Setting(message.out, message.u8());
}

void controllerIo1(Message& message)
{
    putRetLine(message.out, message.u8(), kIo1Levels, kInvalidStatus);
    putIo1Setting(message.out, message.u8());
}

void pcMotors(Message& message)
{
    const std::uint8_t cmd = message.u8();
    if (!putCmdLine(message.out, cmd, kMotorsCommands)) return;
    if (cmd == 0x03) putMoffLine(message.out, message.u8());
}

void controllerMotors(Message& message)
{
    putRetLine(message.out, message.u8(), kMotorsStates, kInvalidValue);
    putMoffLine(message.out, message.u8());
}

void pcOverride(Message& message)
{
    putCmdLine(message.out, message.u8(), kOverrideCommands);
}

void controllerOverride(Message& message)
{
    const std::uint8_t status = message.u8();
    put<"     RET=0x%02X\n">(message.out, status);
    putBits(message.out, kOverrideBits, status);
}

void pcPwm(Message& message)
{
    const std::uint8_t cmd = message.u8();
    if (!putCmdLine(message.out, cmd, kPwmCommands)) return;
    if (cmd == 0x00 || cmd == 0x01) {
        const std::uint8_t value = message.u8();
        put<"     VAL=0x%02X\t-> %d => %d%%\n">(message.out, value, value, pwmPercent(value));
    }
}

void controllerPwm(Message& message)
{
    Out& out = message.out;
    const std::uint8_t state = message.u8();
    put<"     ST=0x%02X\t-> ">(out, state);
    completeLine(out, kPwmStates, state, kUnknownStatus);

    const std::uint8_t mode = message.u8();
    put<"     AMO=0x%02X\n">(out, mode);
    putBits(out, kPwmModeBits, mode);

    const std::uint8_t automatic = message.u8();
    const std::uint8_t manual = message.u8();
    putPwmValues(out, automatic, manual);
}

} // namespace vornlog::control
