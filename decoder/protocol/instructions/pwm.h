// PWM (0x50, P): the PWM output on or off and its value; the controller
// answers with its state, mode and both values.
#pragma once

#include "protocol/fields.h"
#include "protocol/layout.h"
#include "protocol/lines.h"
#include "status.h"

namespace vornlog::control {

// The PC's PWM commands; the first two also name the controller's PWM state.
inline constexpr CodeText kPwmCommands[] = {
    {0x00, "PWM off"},
    {0x01, "PWM on"},
    {0x02, kGetStatus},
};
inline constexpr std::span<const CodeText> kPwmStates = std::span(kPwmCommands).first(2);

// PWM mode, AMO of the controller's PWM reply (bits 2 to 7 not shown).
inline constexpr BitText kPwmModeBits[] = {
    {0, "Mode auto", "Mode manual"},
    {1, "PWM_ON/OFF in position ON", "PWM_ON/OFF in position OFF"},
};

inline constexpr Field kPwmCmd{
    .name = "CMD", .codes = kPwmCommands, .unknown = kUnknownCommand};
inline constexpr Field kPwmValue{.name = "VAL",
                                 .meaning = "%d => %d%%",
                                 .quantity = 1,
                                 .unit = "%",
                                 .shows = kValueAndPwmPercent};
inline constexpr Field kPwmSt{
    .name = "ST", .codes = kPwmStates, .unknown = kUnknownStatus};
inline constexpr Field kPwmMode{.name = "AMO", .bits = kPwmModeBits};

// PWM off and on carry the value.
inline constexpr Step kPwmPcSteps[] = {read(kPwmCmd), whenIn(0x00, 0x01, 1), read(kPwmValue)};
inline constexpr Layout kPwmPc{kPwmPcSteps};

inline constexpr Step kPwmReplySteps[] = {read(kPwmSt), read(kPwmMode), read(motion::kPwma), read(motion::kPwmm)};
inline constexpr Layout kPwmReply{kPwmReplySteps};

} // namespace vornlog::control
