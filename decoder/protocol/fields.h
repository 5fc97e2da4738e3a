// The fields of the controller's messages, each described once as data, the
// way a protocol dissector declares its fields: the name the report gives
// it, what kind of value it is and how wide, how the report's line shows
// it, and the table of texts or bits that gives its meaning.
//
//   inline constexpr Field kDataNbr{
//       .name = "NBR", .width = 4,
//       .head = "     NBR=0x%08X -> ", .meaning = "%d pulses\n"};
//
// The decoders (emit.h) name the field they found and hand its values over;
// the report writes head and meaning, the JSON Lines take the name, the raw
// value and the meaning's text. Each instruction lists, for each direction,
// every field its messages may hold (instructions.h), so that a program can
// walk the whole protocol: instructions, fields, their widths and tables.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "texts.h"

namespace vornlog {

enum class FieldKind : std::uint8_t {
    // An unsigned value of 1 to 4 bytes, little-endian, that the report
    // shows in hexadecimal.
    Number,
    // Characters of the message written as they are (a name, a version, an
    // LCD string), or a fixed text; no value.
    Text,
};

struct Field {
    // As the report writes it ("NBR", "PWM max"). A "%d" stands for the
    // field's number, from `first` to `last`: "S%d" is S1 to S5.
    std::string_view name{};
    int first = 0;
    int last = 0;
    FieldKind kind = FieldKind::Number;
    // Number: the value's bytes in the message. Text: its characters (0
    // when a length in the message gives them).
    int width = 1;
    // The report's line up to the meaning, as a format: the field's number
    // (when its name has one), then its value, are its conversions
    // ("     S%d=0x%08X -> "). A head that does not show the value has none
    // for it.
    std::string_view head{};
    // The meaning's form when it is always the same ("%d pulses\n"), its
    // conversions taking the values that the decoder works out; empty when
    // a table gives the meaning or the decoder chooses among forms.
    std::string_view meaning{};
    // The value's texts, and the error text that completes the line for a
    // value the table does not name (null: every value is named or shown
    // otherwise).
    std::span<const CodeText> codes{};
    const char* unknown = nullptr;
    // The bit rows written under the field's line, for the bits that have a
    // meaning.
    std::span<const BitText> bits{};
    // A meaning that shows a quantity ("800 steps", "192 => 75%"): which
    // of its form's conversions is the number (-1: none), and its unit
    // (empty for a bare number: a segment number, a position). Only the
    // field's own meaning shows it, not a form or a code text the decoder
    // chooses instead.
    int quantity = -1;
    std::string_view unit{};

    constexpr bool numbered() const { return name.find("%d") != std::string_view::npos; }
    constexpr bool hasValue() const { return kind == FieldKind::Number; }
    constexpr bool hasQuantity() const { return quantity >= 0; }
};

// The fields that one direction of one instruction may hold, in the order
// of its messages.
using FieldList = std::span<const Field* const>;

// Lists of fields one after the other, as one list.
template <std::size_t... N>
constexpr std::array<const Field*, (N + ...)> joinFields(const Field* const (&... lists)[N])
{
    std::array<const Field*, (N + ...)> all{};
    std::size_t at = 0;
    ((std::copy(lists, lists + N, all.begin() + static_cast<std::ptrdiff_t>(at)), at += N), ...);
    return all;
}

} // namespace vornlog
