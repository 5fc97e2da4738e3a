// Capture lines of Table messages for the tests, and their report.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "out.h"
#include "report.h"

namespace vornlog::testing {

// "54 04 01 ..." for the bytes of a message.
inline std::string hexPairs(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    for (std::uint8_t b : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X ", b);
        text += pair;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

// A capture line as the capture tool writes it, the data field followed by
// a sixth column so that the echo line shows the field alone.
inline std::string captureLine(bool fromPc, std::string_view field)
{
    std::string line = fromPc ? "7\tOUT\t00:00:01.250\t8\t" : "8\tIN\t00:00:01.262\t8\t";
    line += field;
    line += "\tT.......................................\n";
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

inline std::string reportPc(std::string_view field) { return report({captureLine(true, field)}); }
inline std::string reportController(std::string_view field) { return report({captureLine(false, field)}); }

} // namespace vornlog::testing
