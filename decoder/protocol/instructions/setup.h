// Set-up bytes that both the table's low part and the device-control
// messages carry: the IO1 pin setting and the auto motors on/off delay (MOFF).
#pragma once

#include "protocol/fields.h"
#include "protocol/layout.h"
#include "protocol/lines.h"
#include "protocol/texts.h"

namespace vornlog {

// Bits 0 to 2 of an IO1 setting byte (bits 3 to 7 are not shown).
inline constexpr BitText kIo1Bits[] = {
    {0, "input", "output"},
    {1, "output default value = 1", "output default value = 0"},
    {2, "output follow PWM", "output do not follow PWM"},
};

// MOFF: 0 disables the auto motors off, 1 to 127 is the delay in seconds;
// above is no value.
inline constexpr CodeText kMoffDisabled[] = {
    {0x00, "Auto motors on/off disabled"},
};
inline constexpr Field kMoff{.name = "MOFF",
                             .meaning = "Auto motors on/off set to %d sec",
                             .codes = kMoffDisabled,
                             .unknown = kInvalidValue,
                             .quantity = 0,
                             .unit = "s"};

inline constexpr int kLongestMoff = 127;

// MOFF's step: a delay in its meaning, else its code's text or error.
inline constexpr Step kMoffStep = check(kMoff, 1, kLongestMoff, Invalid::Codes);

} // namespace vornlog
