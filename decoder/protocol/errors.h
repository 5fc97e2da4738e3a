// The kinds of error text that the decoders write for a value without a
// meaning, each with a stable name: the JSON Lines' `kind`, the session
// summary's census and the dissector's expert fields (qmr5v.error.<kind>)
// all go by it. One text, one kind.
//
//   errorKind("ERROR: Unknown status")     "unknown_status"
//
// A text with values ("ERROR invalid value POS=0x%2X=%d") is known by its
// form. A kind names no field: an error belongs to the field it completes,
// or to the field just before its own line.
#pragma once

#include <string_view>

#include "base/out.h"
#include "instructions/lcd.h"
#include "instructions/reset.h"
#include "lines.h"
#include "instructions/table.h"

namespace vornlog {

struct ErrorKindName {
    // The text or form, as a decoder gives it.
    std::string_view form;
    // snake_case, stable: scripts and filters rely on it.
    std::string_view name;
    // What it means, in a sentence (docs/json-lines.md, the JSON Schema, Wireshark).
    std::string_view meaning;
};

inline constexpr ErrorKindName kErrorKinds[] = {
    {kUnknownInstruction, "unknown_instruction", "an instruction code that no decoder reads (in that direction)"},
    {kUnknownCommand, "unknown_command", "a sub-command, reply or boot mode (CMD, RET, BLDR) that the protocol does not name"},
    {kInvalidStatus, "invalid_status", "a status (RET, CMD) that the protocol does not name, in a Table, IO1 or LCD reply"},
    {kUnknownStatus, "unknown_status", "a status ST that the protocol does not name, in a Data or PWM reply"},
    {kInvalidValue, "invalid_value", "a value that the protocol does not name: MOFF above 127, a Motors reply's RET"},
    {table::kUnknownAxisCode, "unknown_axis_code", "an axis letter code (A1 to A5) of a table that names no axis"},
    {table::kInvalidSlope, "invalid_slope", "a table's SLOPE above 0x0F"},
    {table::kOutputAxisInvalid, "invalid_axis", "an output OUT1 to OUT10 of a table on an axis above 5"},
    {table::kInvalidTableNumber, "invalid_table_number", "a table number above 2 (NBR)"},
    {control::kInvalidLcdPos, "invalid_position", "an LCD position POS above 19"},
    {control::kInvalidLcdLength, "invalid_length", "an LCD string length LEN of 0 or above 20"},
    {control::kInvalidLcdCharacter, "invalid_character", "an LCD graphic character number CHAR above 7"},
    {control::kNoResetSequence, "no_reset_sequence", "a Reset message without its sequence 0xAA55"},
};

// The kind of an error form; a form without a kind does not compile.
constexpr const ErrorKindName& errorKindOf(std::string_view form)
{
    for (const ErrorKindName& kind : kErrorKinds)
        if (kind.form == form) return kind;
    throw "every error text the decoders write has a kind in kErrorKinds";
}

// The kind of the error of field F's value that its table does not name.
template <const Field& F>
inline constexpr std::string_view kUnknownKind = errorKindOf(TableText(F.unknown).view()).name;

// The kind of error form E.
template <fmt::Text E>
inline constexpr std::string_view kKindOf = errorKindOf(E.view()).name;

} // namespace vornlog
