// Texts that the decoders of several instructions share.
#pragma once

#include <string_view>

namespace vornlog {

// Texts of several instructions' tables: meanings, and the errors of
// values that a table does not name.
inline constexpr char kUnknownCommand[] = "ERROR: Unknown command";
inline constexpr char kInvalidStatus[] = "ERROR: Invalid status";
inline constexpr char kUnknownStatus[] = "ERROR: Unknown status";
inline constexpr char kInvalidValue[] = "ERROR: invalid value";
inline constexpr char kGetStatus[] = "Get status";
// The line of an instruction that has no decoder (the frame writes it).
inline constexpr char kUnknownInstruction[] = "ERROR: Unknown instruction...";

} // namespace vornlog
