// Line forms and texts that the decoders of every instruction share.
#pragma once

#include <cstdint>
#include <span>

#include "out.h"
#include "texts.h"

namespace vornlog {

// Texts that complete the lines of several messages.
inline constexpr char kUnknownCommand[] = "ERROR: Unknown command\n";
inline constexpr char kInvalidStatus[] = "ERROR: Invalid status\n";
inline constexpr char kUnknownStatus[] = "ERROR: Unknown status\n";
inline constexpr char kInvalidValue[] = "ERROR: invalid value\n";
inline constexpr char kGetStatus[] = "Get status\n";

// The beginnings "     CMD=0x%02X\t-> " and "     RET=0x%02X\t-> ", which
// the text of the sub-command or result completes on the same line.
void putCmdField(Out& out, int cmd);
void putRetField(Out& out, int ret);

// Completes a line already begun with the text of `code`, or with `error`
// when the table does not name it. True when named.
bool completeLine(Out& out, std::span<const CodeText> table, int code, const char* error);

// The CMD line of a PC message, completed by the sub-command's text or
// "ERROR: Unknown command\n". True when named: an unknown sub-command ends
// the decoding of its message.
bool putCmdLine(Out& out, int cmd, std::span<const CodeText> commands);

// The RET line of a reply, completed by the result's text or by that
// reply's own `error` text.
void putRetLine(Out& out, int ret, std::span<const CodeText> results, const char* error);

// The PWM values of the automatic and the manual mode, PWMA and PWMM, as
// the status block and the PWM reply show them.
void putPwmValues(Out& out, std::uint8_t automatic, std::uint8_t manual);

} // namespace vornlog
