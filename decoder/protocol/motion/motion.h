// Decoders of the motion-buffer messages: Data, Buffer Management and Stop
// in both directions, and the controller's status replies to Data and
// Information. Each reports what follows the instruction code. The PC's
// Information request has no parameters: control::pcNoParameters reads it.
#pragma once

#include "motion_fields.h"
#include "protocol/emit.h"

namespace vornlog::motion {

// Data (0x44): one motion segment from the PC; the controller's reply and
// its reply to Information (0x49) both carry ST and the status block, told
// apart by the instruction code.
template <class S> void pcData(Message<S>& message);
template <class S> void controllerStatus(Message<S>& message);

// Buffer Management (0x42) and Stop (0x53).
template <class S> void pcBufferManagement(Message<S>& message);
template <class S> void controllerBufferManagement(Message<S>& message);
template <class S> void pcStop(Message<S>& message);
template <class S> void controllerStop(Message<S>& message);

} // namespace vornlog::motion
