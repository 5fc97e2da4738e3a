// Stop (0x53, S): a fast or slow stop, or its status.
#pragma once

#include "protocol/fields.h"
#include "protocol/layout.h"
#include "protocol/lines.h"
#include "status.h"

namespace vornlog::motion {

// 0x02 is not a Stop command.
inline constexpr CodeText kStopCommands[] = {
    {0x00, "Fast stop\n"},
    {0x01, "Slow stop\n"},
    {0x03, kGetStatus},
};

inline constexpr Field kStopCmd{
    .name = "CMD", .head = "     CMD=0x%02X\t-> ", .codes = kStopCommands, .unknown = kUnknownCommand};
inline constexpr Field kStopRet{.name = "RET", .head = "     RET=0x%02X\n", .bits = kStopStateBits};

inline constexpr Step kStopPcSteps[] = {read(kStopCmd)};
inline constexpr Layout kStopPc{kStopPcSteps};

inline constexpr Step kStopReplySteps[] = {read(kStopRet), read(kSeg), read(kPulsesLeft)};
inline constexpr Layout kStopReply{kStopReplySteps};

} // namespace vornlog::motion
