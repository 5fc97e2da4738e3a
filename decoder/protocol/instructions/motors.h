// Motors ON/OFF (0x4D, M): the motors' state and the auto on/off delay.
#pragma once

#include "protocol/fields.h"
#include "protocol/layout.h"
#include "protocol/lines.h"
#include "setup.h"

namespace vornlog::control {

inline constexpr std::uint8_t kSetMotorsDelay = 0x03;
inline constexpr CodeText kMotorsCommands[] = {
    {0x00, "Set Motors OFF"},
    {0x01, "Set Motors ON"},
    {0x02, "Read current status"},
    {kSetMotorsDelay, ""}, // set the delay: the MOFF line continues the CMD line
};

inline constexpr CodeText kMotorsStates[] = {
    {0x00, "Motors are OFF"},
    {0x01, "Motors are ON"},
};

inline constexpr Field kMotorsCmd{
    .name = "CMD", .codes = kMotorsCommands, .unknown = kUnknownCommand};
inline constexpr Field kMotorsRet{
    .name = "RET", .codes = kMotorsStates, .unknown = kInvalidValue};

inline constexpr Step kMotorsPcSteps[] = {read(kMotorsCmd), when(kSetMotorsDelay, 1), kMoffStep};
inline constexpr Layout kMotorsPc{kMotorsPcSteps};

inline constexpr Step kMotorsReplySteps[] = {read(kMotorsRet), kMoffStep};
inline constexpr Layout kMotorsReply{kMotorsReplySteps};

} // namespace vornlog::control
