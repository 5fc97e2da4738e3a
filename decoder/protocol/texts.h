// Code-to-text and bit tables: the protocol's meanings, written once as
// data next to their codes and bits, and read by one routine each.
//
//   {0x80, "Execute"}                         a code and its meaning
//   {3, "Source:USB", "Source:Flash"}         a bit, the meaning when 1, when 0
//
// A null text means that the value has no meaning to show. The texts are
// data, without line ends: a writer lays them out (the report ends a
// field's line after its code's text; an empty text leaves the line to the
// next field). "%d" in a text stands for a number that the message gives
// beside the code ("Read low part of table %d").
//
// The tables are public constexpr data in each instruction's header
// (instructions/), so that a program can walk them (the list in
// instructions.h leads to every one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>


namespace vornlog {

// A text of a table with its length, worked out when the program is
// compiled (the tables are constexpr), so that writing it costs no strlen;
// and where "%d" stands in it, if anywhere.
struct TableText {
    static constexpr std::size_t kNoNumber = std::string_view::npos;

    const char* text = nullptr;
    std::size_t size = 0;
    std::size_t number = kNoNumber;

    constexpr TableText() = default;
    constexpr TableText(std::nullptr_t) {}
    constexpr TableText(const char* s)
        : text(s), size(s ? std::char_traits<char>::length(s) : 0), number(view().find("%d"))
    {
        if (view().find('\n') != std::string_view::npos) throw "a table's text has no line end";
    }
    constexpr explicit operator bool() const { return text != nullptr; }
    constexpr std::string_view view() const { return {text, size}; }
};

struct CodeText {
    int code;
    TableText text;
};

// The entry of `code`, or null when the table does not name it.
constexpr const TableText* lookup(std::span<const CodeText> table, int code)
{
    for (const CodeText& entry : table)
        if (entry.code == code) return &entry.text;
    return nullptr;
}

// A bit and its meaning when 1 and when 0 (null: no row). The meanings
// are plain ASCII of at most kMostText characters, so that a writer knows
// the room a row takes and may write it into JSON as it is.
struct BitText {
    static constexpr std::size_t kMostText = 64;

    int bit;
    TableText set;
    TableText clear;

    constexpr BitText(int b, TableText s, TableText c) : bit(b), set(s), clear(c)
    {
        if (b < 0 || b > 31) throw "a bit of a field of at most 4 bytes";
        for (const TableText& meaning : {s, c}) {
            if (meaning.size > kMostText) throw "a bit's meaning fits kMostText";
            for (char ch : meaning.view())
                if (ch == '"' || ch == '\\' || static_cast<unsigned char>(ch) < 0x20 ||
                    static_cast<unsigned char>(ch) > 0x7E)
                    throw "a bit's meaning is plain ASCII, written into JSON as it is";
        }
    }

    // The meaning of the bit at `value` (1 or 0); null for no row.
    constexpr const TableText& meaning(int value) const { return value ? set : clear; }
};

} // namespace vornlog
