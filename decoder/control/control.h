// Decoders of the device-control messages: the IO1 pin, the motors, the
// Origin/End override, the PWM output, the LCD, and the controller's reset,
// version and flash model. Each writes the lines after the instruction line.
#pragma once

#include "../report.h"

namespace vornlog::control {

// IO1, motors, override and PWM (0x47, 0x4D, 0x4F, 0x50).
void pcIo1(Message& message);
void controllerIo1(Message& message);
void pcMotors(Message& message);
void controllerMotors(Message& message);
void pcOverride(Message& message);
void controllerOverride(Message& message);
void pcPwm(Message& message);
void controllerPwm(Message& message);

// LCD (0x4C): a write-string or a command from the PC, the display state
// from the controller.
void pcLcd(Message& message);
void controllerLcd(Message& message);

// Reset (0x5A, from the PC only), Version (0x56) and Flash Model (0x46).
void pcReset(Message& message);
void pcNoParameters(Message& message); // Version, Flash Model and Information asked by the PC
void controllerVersion(Message& message);
void controllerFlashModel(Message& message);

} // namespace vornlog::control
