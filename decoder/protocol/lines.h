// Texts that the decoders of several instructions share.
#pragma once

#include <string_view>

namespace vornlog {

// Texts that complete the lines of several messages.
inline constexpr char kUnknownCommand[] = "ERROR: Unknown command\n";
inline constexpr char kInvalidStatus[] = "ERROR: Invalid status\n";
inline constexpr char kUnknownStatus[] = "ERROR: Unknown status\n";
inline constexpr char kInvalidValue[] = "ERROR: invalid value\n";
inline constexpr char kGetStatus[] = "Get status\n";
// The line of an instruction that has no decoder (the frame writes it).
inline constexpr char kUnknownInstruction[] = "   => ERROR: Unknown instruction...\n";

} // namespace vornlog
