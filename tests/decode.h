// Runs messages through the report as capture lines would bring them.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "out.h"
#include "report.h"

namespace vornlog::testing {

// A capture line as the capture tool writes it. The message's hex pairs
// are column 5; a sixth column keeps short messages over the length filter
// and keeps the line end out of the echo line.
inline std::string captureLine(bool fromPc, std::string_view field)
{
    std::string line = fromPc ? "7\tOUT\t00:00:01.250\t9\t" : "8\tIN\t00:00:01.262\t9\t";
    line.append(field).append("\tcaptured by the USB monitor\n");
    return line;
}

// The report of one or more capture lines.
inline std::string report(std::initializer_list<std::string> lines)
{
    std::string text;
    {
        Out out(&text);
        for (const std::string& line : lines) reportLine(line, out);
    }
    return text;
}

// The whole report of one message, echo line included.
inline std::string fromPc(std::string_view bytes) { return report({captureLine(true, bytes)}); }
inline std::string fromController(std::string_view bytes) { return report({captureLine(false, bytes)}); }

// The echo lines that head the report of a message.
inline std::string pcEcho(std::string_view field) { return "PC     :  " + std::string(field) + "\n"; }
inline std::string controllerEcho(std::string_view field) { return " QMR5V :  " + std::string(field) + "\n"; }

} // namespace vornlog::testing
