// Line pieces shared by the device-control decoders.
#pragma once

#include <span>

#include "../out.h"
#include "../texts.h"

namespace vornlog::control {

// Texts that complete the lines of several of these messages.
inline constexpr char kUnknownCommand[] = "ERROR: Unknown command\n";
inline constexpr char kInvalidStatus[] = "ERROR: Invalid status\n";
inline constexpr char kGetStatus[] = "Get status\n";

// Completes a line already begun ("     RET=0x01\t-> ") with the text of
// `code`, or with `error` when the table does not name it. True when named.
bool completeLine(Out& out, std::span<const CodeText> table, int code, const char* error);

// The CMD line "     CMD=0x%02X\t-> " of a PC message, completed by the
// sub-command's text or "ERROR: Unknown command\n". True when named: an
// unknown sub-command ends the decoding of its message.
bool putCmdLine(Out& out, int cmd, std::span<const CodeText> commands);

// The RET line "     RET=0x%02X\t-> " of a reply, completed by the
// result's text or by that reply's own `error` text.
void putRetLine(Out& out, int ret, std::span<const CodeText> results, const char* error);

} // namespace vornlog::control
