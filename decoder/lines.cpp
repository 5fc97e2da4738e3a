#include "lines.h"

#include <string_view>

namespace vornlog {

namespace detail {
ErrorObserver* errorObserver = nullptr;
} // namespace detail

ErrorObserver* setErrorObserver(ErrorObserver* observer)
{
    ErrorObserver* previous = detail::errorObserver;
    detail::errorObserver = observer;
    return previous;
}

void putErrorText(Out& out, const char* text)
{
    put<"%s">(out, std::string_view(text));
    noteError(text);
}

void putCmdField(Out& out, int cmd) { put<"     CMD=0x%02X\t-> ">(out, cmd); }

void putRetField(Out& out, int ret) { put<"     RET=0x%02X\t-> ">(out, ret); }

bool completeLine(Out& out, std::span<const CodeText> table, int code, const char* error)
{
    if (const char* text = lookup(table, code)) {
        put<"%s">(out, std::string_view(text));
        return true;
    }
    putErrorText(out, error);
    return false;
}

bool putCmdLine(Out& out, int cmd, std::span<const CodeText> commands)
{
    putCmdField(out, cmd);
    return completeLine(out, commands, cmd, kUnknownCommand);
}

void putRetLine(Out& out, int ret, std::span<const CodeText> results, const char* error)
{
    putRetField(out, ret);
    completeLine(out, results, ret, error);
}

void putPwmValues(Out& out, std::uint8_t automatic, std::uint8_t manual)
{
    put<"     PWMA=0x%02X\t-> %d => %d%%\n">(out, automatic, automatic, pwmPercent(automatic));
    put<"     PWMM=0x%02X\t-> %d => %d%%\n">(out, manual, manual, pwmPercent(manual));
}

} // namespace vornlog
