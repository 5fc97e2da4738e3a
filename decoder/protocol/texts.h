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

#include "base/out.h"

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

// A text made whole as the program is compiled; size 0 means none.
template <std::size_t N>
struct RenderedText {
    static constexpr std::size_t kCapacity = N;
    char text[N]{};
    std::size_t size = 0;
};

// A bit line of the report.
using BitLine = RenderedText<80>;
// A bit row of the JSON Lines, after a comma: ,{"bit":3,"value":1,"text":"Source:USB"}
using BitJson = RenderedText<96>;

// A bit and its meaning when 1 and when 0 (null: no line). Both bit lines
// "       .3=1\t-> Source:USB\n", and both rows of the JSON Lines, are
// written out in the table itself, so that writing them is a copy.
struct BitText {
    int bit;
    TableText set;
    TableText clear;
    BitLine whenSet;
    BitLine whenClear;
    BitJson jsonSet;
    BitJson jsonClear;

    constexpr BitText(int b, TableText s, TableText c)
        : bit(b), set(s), clear(c), whenSet(line(b, 1, s)), whenClear(line(b, 0, c)), jsonSet(json(b, 1, s)),
          jsonClear(json(b, 0, c))
    {
    }

    // The meaning of the bit at `value` (1 or 0); null for no line.
    constexpr const TableText& meaning(int value) const { return value ? set : clear; }

private:
    static constexpr BitLine line(int bit, int value, TableText meaning)
    {
        BitLine l;
        if (meaning)
            l.size = fmt::render<"       .%d=%d\t-> %s\n">(l.text, BitLine::kCapacity, bit, value, meaning.view());
        return l;
    }
    static constexpr BitJson json(int bit, int value, TableText meaning)
    {
        BitJson j;
        for (char c : meaning.view())
            if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
                throw "a bit's meaning is plain ASCII, written into JSON as it is";
        if (meaning)
            j.size = fmt::render<",{\"bit\":%d,\"value\":%d,\"text\":\"%s\"}">(j.text, BitJson::kCapacity, bit, value,
                                                                           meaning.view());
        return j;
    }
};


} // namespace vornlog
