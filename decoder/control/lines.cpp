#include "lines.h"

#include <string_view>

namespace vornlog::control {

bool completeLine(Out& out, std::span<const CodeText> table, int code, const char* error)
{
    const char* text = lookup(table, code);
    put<"%s">(out, std::string_view(text ? text : error));
    return text != nullptr;
}

bool putCmdLine(Out& out, int cmd, std::span<const CodeText> commands)
{
    put<"     CMD=0x%02X\t-> ">(out, cmd);
    return completeLine(out, commands, cmd, kUnknownCommand);
}

void putRetLine(Out& out, int ret, std::span<const CodeText> results, const char* error)
{
    put<"     RET=0x%02X\t-> ">(out, ret);
    completeLine(out, results, ret, error);
}

} // namespace vornlog::control
