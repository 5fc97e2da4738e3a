// Texts that the decoders of several instructions share, and the count of
// error texts that the session summary keeps.
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

// Every error text that the report writes, for a value without a meaning,
// passes through noteError, so that an observer (the session summary) can
// count them; it is told the text, or the line format, as the decoder
// gives it. The report installs no observer and pays one null check for
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

} // namespace vornlog
