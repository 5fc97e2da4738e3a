// Stop (0x53, S): a fast or slow stop, or its status.
#pragma once

#include "protocol/fields.h"
#include "protocol/layout.h"
#include "protocol/lines.h"
#include "status.h"

namespace vornlog::motion {

inline constexpr std::uint8_t kStopCode = 0x53;

inline constexpr int kFastStop = 0x00;
inline constexpr int kSlowStop = 0x01;
inline constexpr int kGetStopStatus = 0x03;

// 0x02 is not a Stop command.
inline constexpr CodeText kStopCommands[] = {
    {kFastStop, "Fast stop"},
    {kSlowStop, "Slow stop"},
    {kGetStopStatus, kGetStatus},
};

// Whether a Stop message's CMD stops the machine: a fast or a slow stop.
// "Get status" and any value the protocol does not name stop nothing.
constexpr bool stopsMotion(std::uint32_t cmd) { return cmd == kFastStop || cmd == kSlowStop; }

inline constexpr Field kStopCmd{
    .name = "CMD", .codes = kStopCommands, .unknown = kUnknownCommand};
inline constexpr Field kStopRet{.name = "RET", .bits = kStopStateBits};

inline constexpr Step kStopPcSteps[] = {read(kStopCmd)};
inline constexpr Layout kStopPc{kStopPcSteps};

inline constexpr Step kStopReplySteps[] = {read(kStopRet), read(kSeg), read(kPulsesLeft)};
inline constexpr Layout kStopReply{kStopReplySteps};

} // namespace vornlog::motion
