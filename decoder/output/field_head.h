// The head of a field's line in the report: what comes after its
// indentation and before its meaning. One rule makes it from the field's
// name and width:
//
//   a number whose line ends there                "FLAG=0x%02X"
//   a number of 1 to 3 bytes, then its meaning    "CMD=0x%02X\t-> "
//   a number of 4 bytes, then its meaning         "NBR=0x%08X -> "
//   a text                                        "STRING="
//
// the value in as many hexadecimal digits as it has bytes, and a numbered
// field's number in place of the "%d" of its name ("S%d=0x%08X -> "). The
// report writer lays the line out around it (report.h).
// A field whose line looks otherwise gives its head itself (Field::head);
// the summary's census of error texts shows the same head.
#pragma once

#include <cstddef>
#include <string_view>

#include "base/out.h"
#include "protocol/fields.h"

namespace vornlog {

struct FieldHead {
    static constexpr std::size_t kCapacity = 64;
    char text[kCapacity]{};
    std::size_t size = 0;

    constexpr void add(std::string_view s)
    {
        if (size + s.size() > kCapacity) throw "a field's head fits its room";
        for (char c : s) text[size++] = c;
    }
    constexpr std::string_view view() const { return {text, size}; }
};

// Whether the field's line goes on after its value: a meaning, from its
// own form or its table of texts.
constexpr bool meaningFollows(const Field& field)
{
    return !field.meaning.empty() || !field.codes.empty() || field.unknown != nullptr;
}

// The head that the rule makes for `field`.
constexpr FieldHead ruledHead(const Field& field)
{
    FieldHead head;
    head.add(field.name);
    head.add("=");
    if (!field.hasValue()) return head;
    if (field.width < 1 || field.width > 4) throw "a number is 1 to 4 bytes";
    constexpr std::string_view digits[] = {"0x%02X", "0x%04X", "0x%06X", "0x%08X"};
    head.add(digits[field.width - 1]);
    if (meaningFollows(field)) head.add(field.width == 4 ? " -> " : "\t-> ");
    return head;
}

// The head of `field`'s line: its own, or the rule's.
constexpr FieldHead headOf(const Field& field)
{
    if (field.head.empty()) return ruledHead(field);
    if (field.head == ruledHead(field).view()) throw "a field gives its head only where the rule makes another";
    FieldHead head;
    head.add(field.head);
    return head;
}

template <const Field& F>
inline constexpr FieldHead kHeadOf = headOf(F);

// F's head as a form, parsed when compiling.
template <const Field& F>
inline constexpr fmt::Text<kHeadOf<F>.size + 1> kHeadForm{kHeadOf<F>.view()};

} // namespace vornlog
