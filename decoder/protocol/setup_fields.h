// Set-up bytes that both the table parts and the device-control messages
// carry: the IO1 pin setting and the auto motors on/off delay (MOFF).
#pragma once

#include <cstdint>

#include "emit.h"
#include "fields.h"
#include "lines.h"
#include "texts.h"

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
    {0x00, "Auto motors on/off disabled\n"},
};
inline constexpr Field kMoff{.name = "MOFF",
                             .head = "     MOFF=0x%02X\t-> ",
                             .meaning = "Auto motors on/off set to %d sec\n",
                             .codes = kMoffDisabled,
                             .unknown = kInvalidValue,
                             .quantity = 0,
                             .unit = "s"};

inline constexpr int kLongestMoff = 127;

template <class S>
void moffField(Message<S>& m, std::uint8_t moff)
{
    if (moff >= 1 && moff <= kLongestMoff)
        field<kMoff>(m, moff, moff);
    else
        codeField<kMoff>(m, moff);
}

} // namespace vornlog
