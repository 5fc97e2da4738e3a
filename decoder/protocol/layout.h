// A message's layout as data: the steps that read what follows the
// instruction code, in message order. One interpreter (decode.h) runs a
// layout against any sink; the dissector's generator writes the same steps
// out for Wireshark.
//
//   inline constexpr Step kPcSteps[] = {
//       read(kBufferCmd),                     CMD: its line, its code's text
//       when(kSourceFlash, 2),                when byte 1 is 0x02, the next two steps:
//       read(kBufferBck), read(kBufferAdr),
//   };
//   inline constexpr Layout kPc{kPcSteps};
//
// A group (`when...`) tests byte 1 of the message, the sub-command or
// command byte every instruction starts with, and holds the `length` steps
// after it. `stop()` ends the message. A few hooks name what no step says.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "fields.h"
#include "texts.h"

namespace vornlog {

struct Layout;

enum class StepKind : std::uint8_t {
    // A field of its width: its line, its code's text or its meaning, its
    // bit rows.
    Read,
    // A numbered field, each of its numbers in turn (S1 to S5).
    Repeat,
    // A field of characters: its width, or as many as the field read just
    // before gives (`length`); `text`, when given, is its meaning when the
    // first character is 0 (the rest is then skipped).
    Text,
    // The `length` steps after it, when byte 1 passes the test.
    When,
    // A field whose value must lie from `low` to `high`: otherwise `invalid`
    // says what is written, `text` being the error.
    Check,
    // Report text that is no field.
    Line,
    // `length` bytes that show nothing.
    Skip,
    // The steps of another layout (a part that several messages carry).
    Part,
    // Nothing more is read.
    Stop,
    // What no step says, by name.
    Hook,
};

// The test of a group, on byte 1.
enum class Test : std::uint8_t {
    Bit,   // bit `low` is set
    Range, // from `low` to `high`
    Named, // one of the codes of `field`
};

// What a Check writes for a value out of its range.
enum class Invalid : std::uint8_t {
    ErrorLine, // the value only, then the error on a line of its own, the value for each of its conversions
    InLine,    // the field's line completed by the error
    Codes,     // the field's code text, or its text for an unknown value
    Ends,      // the value only, then the error; nothing more is read
};

enum class Hook : std::uint8_t {
    // OUT1 to OUT10 of a table: the axis of bits 0 to 2 as the meaning, the
    // signal bits below when it names one.
    Outputs,
    // The speeds of a table's axes in mm/s, by the steps for 1 mm the
    // Repeat before read; an axis with 0 steps for 1 mm shows none.
    Speeds,
};

// What a Read does beyond the field's own description.
enum ReadOption : unsigned {
    // Any value but 0 is shown as 0xFF.
    kNonzeroAsFF = 1,
    // A code text's "%d" is the byte after, which is not read; a code the
    // table does not name ends the message.
    kNumberAfter = 2,
};

struct Step {
    StepKind kind{};
    const Field* field = nullptr;
    Test test{};
    Invalid invalid{};
    Hook hook{};
    unsigned options = 0;
    std::int32_t low = 0;
    std::int32_t high = 0;
    std::size_t length = 0;
    // Read: the rows shown instead of the field's own.
    std::span<const BitText> bits{};
    bool ownBits = true;
    std::string_view text{};
    const Layout* part = nullptr;
    // Text: the field whose value, read just before, is its length.
    const Field* lengthField = nullptr;
};

// The steps of one direction of an instruction (or of a part), and every
// field they may read, once each, in the order they first appear.
struct Layout {
    static constexpr std::size_t kMostFields = 32;

    std::span<const Step> steps;
    std::array<const Field*, kMostFields> fieldList{};
    std::size_t fieldCount = 0;
    // Whether a group of its steps, or of a part it holds, tests byte 1.
    bool testsByteOne = false;

    constexpr explicit Layout(std::span<const Step> s) : steps(s)
    {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const Step& step = steps[i];
            if (step.kind == StepKind::When || (step.kind == StepKind::Part && step.part->testsByteOne))
                testsByteOne = true;
            if (step.kind == StepKind::When) {
                // A group ends within its layout and within the group around it.
                const std::size_t end = i + step.length;
                if (step.length == 0 || end >= steps.size()) throw "a group holds steps of its layout";
                for (std::size_t j = i + 1; j <= end; ++j)
                    if (steps[j].kind == StepKind::When && j + steps[j].length > end)
                        throw "a group ends within the group around it";
            }
            if (step.kind == StepKind::Part)
                for (std::size_t f = 0; f < step.part->fieldCount; ++f) add(step.part->fieldList[f]);
            else if (step.field && step.kind != StepKind::When)
                add(step.field);
        }
    }

    constexpr std::span<const Field* const> fields() const { return {fieldList.data(), fieldCount}; }

private:
    constexpr void add(const Field* field)
    {
        for (std::size_t f = 0; f < fieldCount; ++f)
            if (fieldList[f] == field) return;
        if (fieldCount == kMostFields) throw "more fields than a layout holds";
        fieldList[fieldCount++] = field;
    }
};

// ---- The steps ---------------------------------------------------------------

constexpr Step read(const Field& field, unsigned options = 0)
{
    return {.kind = StepKind::Read, .field = &field, .options = options};
}
// A field shown with the bit rows `rows` instead of its own (none: empty).
constexpr Step readWithRows(const Field& field, std::span<const BitText> rows)
{
    return {.kind = StepKind::Read, .field = &field, .bits = rows, .ownBits = false};
}
constexpr Step repeat(const Field& field) { return {.kind = StepKind::Repeat, .field = &field}; }
constexpr Step text(const Field& field, std::string_view whenEmpty = {})
{
    return {.kind = StepKind::Text, .field = &field, .text = whenEmpty};
}
// Characters as many as `length`, the field read just before, gives.
constexpr Step textOf(const Field& field, const Field& length)
{
    return {.kind = StepKind::Text, .field = &field, .lengthField = &length};
}
constexpr Step whenBit(unsigned mask, std::size_t length)
{
    int bit = 0;
    while (mask > 1) mask >>= 1, ++bit;
    return {.kind = StepKind::When, .test = Test::Bit, .low = bit, .length = length};
}
constexpr Step when(std::int32_t value, std::size_t length)
{
    return {.kind = StepKind::When, .test = Test::Range, .low = value, .high = value, .length = length};
}
constexpr Step whenIn(std::int32_t low, std::int32_t high, std::size_t length)
{
    return {.kind = StepKind::When, .test = Test::Range, .low = low, .high = high, .length = length};
}
constexpr Step whenNamed(const Field& field, std::size_t length)
{
    return {.kind = StepKind::When, .field = &field, .test = Test::Named, .length = length};
}
constexpr Step check(const Field& field, std::int32_t low, std::int32_t high, Invalid invalid,
                     std::string_view error = {})
{
    return {.kind = StepKind::Check, .field = &field, .invalid = invalid, .low = low, .high = high, .text = error};
}
constexpr Step line(std::string_view text) { return {.kind = StepKind::Line, .text = text}; }
constexpr Step skip(std::size_t bytes) { return {.kind = StepKind::Skip, .length = bytes}; }
constexpr Step part(const Layout& layout) { return {.kind = StepKind::Part, .part = &layout}; }
constexpr Step stop() { return {.kind = StepKind::Stop}; }
constexpr Step hook(Hook name, const Field& field) { return {.kind = StepKind::Hook, .field = &field, .hook = name}; }

} // namespace vornlog
