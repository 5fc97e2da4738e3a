// Code-to-text and bit tables, and the one routine that reads each kind.
//
// A protocol meaning is written once, as data, next to its code or bit:
//   {0x80, "Execute\n"}                       a code and the text that completes its line
//   {3, "Source:USB", "Source:Flash"}         a bit, the meaning when 1, when 0
// A null text means that the value writes no line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "out.h"

namespace vornlog {

struct CodeText {
    int code;
    const char* text;
};

// The text of `code`, or null when the table does not name it.
const char* lookup(std::span<const CodeText> table, int code);

// A text of a table with its length, worked out when the program is
// compiled (the tables are constexpr), so that writing it costs no strlen.
struct TableText {
    const char* text = nullptr;
    std::size_t size = 0;
    constexpr TableText() = default;
    constexpr TableText(std::nullptr_t) {}
    constexpr TableText(const char* s) : text(s), size(s ? std::char_traits<char>::length(s) : 0) {}
    constexpr explicit operator bool() const { return text != nullptr; }
    constexpr std::string_view view() const { return {text, size}; }
};

struct BitText {
    int bit;
    TableText whenSet;   // meaning when the bit is 1, or null: no line
    TableText whenClear; // meaning when the bit is 0, or null: no line
};

// Writes the bit lines of `value`, one for each table entry in table order:
//   "       .3=1\t-> Source:USB\n"
void putBits(Out& out, std::span<const BitText> table, unsigned value);

// The PWM percentage of a PWM byte: 255 is 100 %, truncated (128 gives 50).
constexpr int pwmPercent(int value) { return value * 100 / 255; }

} // namespace vornlog
