// The tests' one capture builder: capture lines as the capture tool writes
// them, hex pairs from bytes, and the report of capture lines.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "base/out.h"
#include "output/report.h"
#include "report_lines.h"

namespace vornlog::testing {

// "54 04 01" for the bytes of a message.
inline std::string hexPairs(const std::vector<std::uint8_t>& bytes)
{
    std::string s;
    for (std::uint8_t b : bytes) {
        if (!s.empty()) s += ' ';
        s += fmt::kHexPairs.pair[b][0];
        s += fmt::kHexPairs.pair[b][1];
    }
    return s;
}

// A capture line: its number, OUT or IN, its time, the byte count, the
// message's hex pairs (column 5) and a sixth column that keeps short
// messages over the length filter and the line end out of the data field.
inline std::string captureLine(int number, bool fromPc, std::string_view time, std::string_view field)
{
    return std::to_string(number) + (fromPc ? "\tOUT\t" : "\tIN\t") + std::string(time) + "\t" +
           std::to_string((field.size() + 1) / 3) + "\t" + std::string(field) + "\tcaptured by the USB monitor\n";
}
inline std::string captureLine(bool fromPc, std::string_view field)
{
    return fromPc ? captureLine(7, true, "00:00:01.250", field) : captureLine(8, false, "00:00:01.262", field);
}

// A value of 32 bits as the hex pairs of a message write it (little-endian),
// each pair after a space.
inline std::string hex32(std::int32_t v)
{
    std::string s;
    for (int k = 0; k < 4; ++k) {
        const auto b = static_cast<std::uint8_t>((static_cast<std::uint32_t>(v) >> (8 * k)) & 0xFF);
        s += ' ';
        s += fmt::kHexPairs.pair[b][0];
        s += fmt::kHexPairs.pair[b][1];
    }
    return s;
}

// A PC Data message of CMD (hex pair), NBR, S1 and S2 (S3 to S5 zero).
inline std::string dataMessage(const char* cmd, std::int32_t nbr, std::int32_t s1, std::int32_t s2)
{
    return std::string("44 ") + cmd + hex32(nbr) + hex32(s1) + hex32(s2) + hex32(0) + hex32(0) + hex32(0);
}

// A controller Data (or Information, by `code`) reply: ST, BUF, SEG (three
// pairs), then STOP, as hex pairs.
inline std::string dataReply(const char* code, const char* st, const char* buf, const char* seg, const char* stop)
{
    return std::string(code) + " " + st + " " + buf + " " + seg + " 59 2B C0 00 04 " + stop + " 00 00 00 00";
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
