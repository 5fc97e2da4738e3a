// Line forms and texts that the decoders of every instruction share.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "out.h"
#include "texts.h"

namespace vornlog {

// Texts that complete the lines of several messages.
inline constexpr char kUnknownCommand[] = "ERROR: Unknown command\n";
inline constexpr char kInvalidStatus[] = "ERROR: Invalid status\n";
inline constexpr char kUnknownStatus[] = "ERROR: Unknown status\n";
inline constexpr char kInvalidValue[] = "ERROR: invalid value\n";
inline constexpr char kGetStatus[] = "Get status\n";
// The line of an instruction that has no decoder (the frame writes it).
inline constexpr char kUnknownInstruction[] = "   => ERROR: Unknown instruction...\n";

// Every error text that the decoders write, for a value without a meaning,
// passes through noteError, so that an observer (the session summary) can
// count them; it is told the text, or the line format, as the decoder
// writes it. The report installs no observer and pays one null check for
// each error text, nothing for the other lines.
class ErrorObserver {
public:
    virtual void onError(std::string_view text) = 0;

protected:
    ~ErrorObserver() = default;
};

namespace detail {
extern ErrorObserver* errorObserver;
} // namespace detail

// Installs `observer` (null for none) and returns the one it replaces.
ErrorObserver* setErrorObserver(ErrorObserver* observer);

inline void noteError(std::string_view text)
{
    if (detail::errorObserver) detail::errorObserver->onError(text);
}

// Writes an error text that completes a line begun before.
void putErrorText(Out& out, const char* text);

// Writes an error line of its own, such as
// "     ERROR invalid value POS=0x%2X=%d\n".
template <fmt::Text F, class... A>
void putError(Out& out, const A&... args)
{
    put<F>(out, args...);
    noteError(std::string_view(F.s, F.size));
}

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
