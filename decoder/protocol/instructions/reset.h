// Reset (0x5A, Z), from the PC only: the controller reboots, in normal or
// boot loader mode, when the message carries the reset sequence.
#pragma once

#include "protocol/fields.h"
#include "protocol/layout.h"
#include "protocol/lines.h"

namespace vornlog::control {

// The controller reboots and answers nothing.
inline constexpr std::uint8_t kResetCode = 0x5A;

// The two bytes a Reset must carry, read as a little-endian value: 55 AA.
inline constexpr std::int32_t kResetSequence = 0xAA55;
inline constexpr char kNoResetSequence[] = "ERROR: Reset sequence 0xAA55 not present...";

inline constexpr CodeText kRebootModes[] = {
    {0x00, "Reboot in Normal mode"},
    {0x01, "Reboot in Boot Loader mode"},
};

inline constexpr Field kResetSequenceField{
    .name = "Reset sequence", .width = 2, .head = "Reset sequence 0x%04X ", .meaning = "OK"};
inline constexpr Field kBootLoader{
    .name = "BLDR", .codes = kRebootModes, .unknown = kUnknownCommand};

inline constexpr Step kResetPcSteps[] = {
    check(kResetSequenceField, kResetSequence, kResetSequence, Invalid::Ends, kNoResetSequence),
    read(kBootLoader),
};
inline constexpr Layout kResetPc{kResetPcSteps};

} // namespace vornlog::control
