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

// A bit line, whole, as the program is compiled; size 0 means no line.
struct BitLine {
    static constexpr std::size_t kCapacity = 80;
    char text[kCapacity]{};
    std::size_t size = 0;
};

// A bit and its meaning when 1 and when 0 (null: no line). Both bit lines
// "       .3=1\t-> Source:USB\n" are written out in the table itself, so
// that putBits only copies them.
struct BitText {
    int bit;
    BitLine whenSet;
    BitLine whenClear;

    constexpr BitText(int b, TableText set, TableText clear)
        : bit(b), whenSet(line(b, 1, set)), whenClear(line(b, 0, clear)) {}

private:
    static constexpr BitLine line(int bit, int value, TableText meaning)
    {
        BitLine l;
        if (meaning)
            l.size = fmt::render<"       .%d=%d\t-> %s\n">(l.text, BitLine::kCapacity, bit, value, meaning.view());
        return l;
    }
};

// Writes the bit lines of `value`, one for each table entry in table order.
void putBits(Out& out, std::span<const BitText> table, unsigned value);

// The PWM percentage of a PWM byte: 255 is 100 %, truncated (128 gives 50).
constexpr int pwmPercent(int value) { return value * 100 / 255; }

} // namespace vornlog
