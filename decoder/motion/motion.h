// Decoders of the motion-buffer messages: Data, Buffer Management and Stop
// in both directions, and the controller's status replies to Data and
// Information. Each writes the lines after the instruction line. The PC's
// Information request has no parameters: control::pcNoParameters reads it.
#pragma once

#include <span>

#include "../report.h"
#include "../texts.h"

namespace vornlog::motion {

// CMD bits of a Data message beyond the five axis directions.
inline constexpr unsigned kAccelerationBit = 1u << 5; // F_ACC, F_DEC, NBR_DEC follow
inline constexpr unsigned kPwmBit = 1u << 6;          // the PWM byte follows
inline constexpr unsigned kEndOfDataBit = 1u << 7;    // nothing follows CMD

// The fill of the segment buffer, BUF, counted in sevenths, as a
// percentage truncated; no upper bound is applied (8 gives 114).
constexpr int bufferPercent(int buf) { return buf * 100 / 7; }

// Data (0x44): one motion segment from the PC; the controller's reply and
// its reply to Information (0x49) both carry ST and the status block, told
// apart by the instruction code.
void pcData(Message& message);
void controllerStatus(Message& message);

// Buffer Management (0x42) and Stop (0x53).
void pcBufferManagement(Message& message);
void controllerBufferManagement(Message& message);
void pcStop(Message& message);
void controllerStop(Message& message);

// The text of a Stop command, CMD of the PC's Stop message ("Fast stop\n"),
// or null for a value that is not a command.
const char* stopCommandText(int cmd);

// Bits of a stop state byte: STOP of the status block and RET of the Stop
// reply.
extern const std::span<const BitText> kStopStateBits;

// The segment being processed (3 bytes) and the pulses left for it
// (4 bytes), read and written as the status block and the Stop reply show
// them.
void putSegmentLine(Message& message);
void putPulsesLeftLine(Message& message);

} // namespace vornlog::motion
