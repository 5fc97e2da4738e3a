// Decoders of the device-control messages: the IO1 pin, the motors, the
// Origin/End override, the PWM output, the LCD, and the controller's reset,
// version and flash model. Each reports what follows the instruction code.
#pragma once

#include "control_fields.h"
#include "protocol/emit.h"

namespace vornlog::control {

// IO1, motors, override and PWM (0x47, 0x4D, 0x4F, 0x50).
template <class S> void pcIo1(Message<S>& message);
template <class S> void controllerIo1(Message<S>& message);
template <class S> void pcMotors(Message<S>& message);
template <class S> void controllerMotors(Message<S>& message);
template <class S> void pcOverride(Message<S>& message);
template <class S> void controllerOverride(Message<S>& message);
template <class S> void pcPwm(Message<S>& message);
template <class S> void controllerPwm(Message<S>& message);

// LCD (0x4C): a write-string or a command from the PC, the display state
// from the controller.
template <class S> void pcLcd(Message<S>& message);
template <class S> void controllerLcd(Message<S>& message);

// Reset (0x5A, from the PC only), Version (0x56) and Flash Model (0x46).
template <class S> void pcReset(Message<S>& message);
template <class S> void pcNoParameters(Message<S>& message); // Version, Flash Model and Information asked by the PC
template <class S> void controllerVersion(Message<S>& message);
template <class S> void controllerFlashModel(Message<S>& message);

} // namespace vornlog::control
