// The three parts in which a table travels between the PC and the
// controller. A part has one layout whichever side sends it, so one decoder
// serves the PC's write and the controller's answer to a read.
#pragma once

#include "table_fields.h"
#include "protocol/emit.h"

namespace vornlog::table {

// Each starts on byte 3 of the message, the first byte of the part.

// Name, axis names, outputs, frequency, slope, PWM max, MOFF, flags, IO1
// setting and language: 30 bytes.
template <class S> void lowPart(Message<S>& message);
// Steps for 1 mm and the speeds without and with acceleration: 30 bytes.
template <class S> void highPart(Message<S>& message);
// Distances from the Origin switch: 10 bytes.
template <class S> void upperPart(Message<S>& message);

} // namespace vornlog::table
