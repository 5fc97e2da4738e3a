// Set-up bytes that both the table parts and the device-control messages
// carry: the IO1 pin setting and the auto motors on/off delay (MOFF).
#pragma once

#include <cstdint>
#include <span>

#include "out.h"
#include "texts.h"

namespace vornlog {

// Bits 0 to 2 of an IO1 setting byte (bits 3 to 7 are not shown).
extern const std::span<const BitText> kIo1Bits;

// "     MOFF=0x%02X\t-> " and the delay's meaning, ending the line.
void putMoffLine(Out& out, std::uint8_t moff);

} // namespace vornlog
