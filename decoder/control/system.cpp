// Reset (0x5A, from the PC only), Version (0x56) and Flash Model (0x46):
// messages about the controller itself.
#include "control.h"
#include "../lines.h"

namespace vornlog::control {

namespace {

// The two bytes a Reset must carry, read as a little-endian value: 55 AA.
constexpr std::int32_t kResetSequence = 0xAA55;

constexpr CodeText kRebootModes[] = {
    {0x00, "Reboot in Normal mode\n"},
    {0x01, "Reboot in Boot Loader mode\n"},
};

constexpr int kVersionLength = 11;

} // namespace

void pcReset(Message& message)
{
    Out& out = message.out;
    if (message.value(2) != kResetSequence) {
        putError<"     ERROR: Reset sequence 0xAA55 not present...\n">(out);
        return;
    }
    put<"     Reset sequence 0xAA55 OK\n">(out);
    const std::uint8_t bootLoader = message.u8();
    put<"     BLDR=0x%02X\t-> ">(out, bootLoader);
    completeLine(out, kRebootModes, bootLoader, kUnknownCommand);
}

void pcNoParameters(Message& message)
{
    put<"     No paramters\n">(message.out);
}

void controllerVersion(Message& message)
{
    // Exactly eleven characters, written raw: no stop at a zero byte.
    put<"     Version=\t">(message.out);
    for (int i = 0; i < kVersionLength; ++i) put<"%c">(message.out, message.u8());
    put<"\n">(message.out);
}

void controllerFlashModel(Message& message)
{
    Out& out = message.out;
    put<"     ID=\t0x%02X\n">(out, message.u8());
    put<"     TYPE=\t0x%02X\n">(out, message.u8());
    put<"     SIZE=\t0x%02X\n">(out, message.u8());
    put<"     WPS=\t0x%02X\n">(out, message.u8());
}

} // namespace vornlog::control
