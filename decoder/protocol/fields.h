// The fields of the controller's messages, each described once as data, the
// way a protocol dissector declares its fields: the name the report gives
// it, what kind of value it is and how wide, and the form or the table of
// texts or bits that gives its meaning.
//
//   inline constexpr Field kDataNbr{.name = "NBR", .width = 4, .meaning = "%d pulses"};
//
// A layout's steps (layout.h) name the fields a message holds; the
// interpreter (decode.h) reads each and hands its values over (emit.h);
// the report writes the field's head (made from its name and width,
// output/field_head.h) and its meaning, and lays out the line around them
// (its indentation, its end); the JSON Lines take the name, the raw value
// and the meaning's text. Every text here is data: no line end, no
// indentation. Each instruction's layouts give, for each
// direction, every field its messages may hold (instructions.h), so that a
// program can walk the whole protocol: instructions, fields, their widths,
// tables and layouts.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "texts.h"

namespace vornlog {

// A number that a field's meaning shows, worked out of its value: the value
// times `times`, divided by `per`, truncated toward zero ("%d => %d%%" of a
// PWM byte shows the value, then {100, 255} of it).
struct Scale {
    int times = 1;
    int per = 1;

    constexpr std::int32_t of(std::int32_t value) const
    {
        return static_cast<std::int32_t>(std::int64_t{value} * times / per);
    }
};

// A PWM byte as a percentage: 255 is 100 %, truncated (128 gives 50).
inline constexpr Scale kPwmPercent{100, 255};
inline constexpr Scale kAsIs{};
// The value, then its PWM percentage: what "%d => %d%%" shows.
inline constexpr Scale kValueAndPwmPercent[] = {kAsIs, kPwmPercent};

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
    // Empty for nearly every field: the report makes the head of its line
    // from the name and the width (output/field_head.h). Given only for a
    // line that looks otherwise ("ID=\t0x%02X"), as a format: the field's
    // number (when its name has one), then its value, are its conversions.
    // A head that does not show the value has none for it.
    std::string_view head{};
    // A numbered field whose numbers follow one another on one line (the
    // rows of a graphic character), rather than each on a line of its own.
    bool sharesLine = false;
    // The meaning's form when it is always the same ("%d pulses"), its
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
    // The numbers the meaning's conversions show, in order, each worked out
    // of the value (none given: each conversion shows the value itself).
    std::span<const Scale> shows{};

    constexpr bool numbered() const { return name.find("%d") != std::string_view::npos; }
    constexpr bool hasValue() const { return kind == FieldKind::Number; }
    constexpr bool hasQuantity() const { return quantity >= 0; }
};

// The fields that one direction of one instruction may hold, in the order
// of its messages.
using FieldList = std::span<const Field* const>;

} // namespace vornlog
