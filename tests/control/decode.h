// Runs one message through the report as a capture line would bring it.
#pragma once

#include <string>
#include <string_view>

#include "report.h"

namespace vornlog::testing {

// The whole report of one message, echo line included. The message's hex
// pairs are column 5; a sixth column keeps short messages over the length
// filter and keeps the line end out of the echo line.
inline std::string decode(std::string_view direction, std::string_view bytes)
{
    std::string line = "7\t";
    line.append(direction).append("\t00:00:01.250\t9\t").append(bytes);
    line.append("\tcaptured by the USB monitor\n");
    std::string report;
    {
        Out out(&report);
        reportLine(line, out);
    }
    return report;
}

inline std::string fromPc(std::string_view bytes) { return decode("OUT", bytes); }
inline std::string fromController(std::string_view bytes) { return decode("IN", bytes); }

} // namespace vornlog::testing
