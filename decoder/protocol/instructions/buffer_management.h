// Buffer Management (0x42, B): reset the segment buffer, choose where the
// segments come from, execute.
#pragma once

#include "protocol/fields.h"
#include "protocol/layout.h"
#include "protocol/lines.h"

namespace vornlog::motion {

inline constexpr std::uint8_t kBufferCode = 0x42;

inline constexpr int kBufferReset = 0x00;
inline constexpr int kSourceUsb = 0x01;
inline constexpr int kSourceFlash = 0x02;
inline constexpr int kExecute = 0x80;

// The commands that end a job: a reset drops what the buffer holds, a
// change of source starts anew. Execute ends nothing.
constexpr bool endsJob(std::uint32_t cmd) { return cmd == kBufferReset || cmd == kSourceUsb || cmd == kSourceFlash; }

inline constexpr CodeText kBufferCommands[] = {
    {kBufferReset, "Reset"},
    {kSourceUsb, "Source USB"},
    {kSourceFlash, "Source Flash"},
    {kExecute, "Execute"},
};

// RET of the reply: 0 is a refusal; any other value is OK and shown as 0xFF.
inline constexpr CodeText kBufferResults[] = {
    {0xFF, "OK"},
};

inline constexpr Field kBufferCmd{
    .name = "CMD", .codes = kBufferCommands, .unknown = kUnknownCommand};
// The place in the controller's flash memory the segments come from.
inline constexpr Field kBufferBck{.name = "BCK"};
inline constexpr Field kBufferAdr{.name = "ADR", .width = 2};
inline constexpr Field kBufferRet{
    .name = "RET", .codes = kBufferResults, .unknown = kUnknownCommand};

inline constexpr Step kBufferPcSteps[] = {read(kBufferCmd), when(kSourceFlash, 2), read(kBufferBck), read(kBufferAdr)};
inline constexpr Layout kBufferPc{kBufferPcSteps};

inline constexpr Step kBufferReplySteps[] = {read(kBufferRet, kNonzeroAsFF)};
inline constexpr Layout kBufferReply{kBufferReplySteps};

} // namespace vornlog::motion
