// The controller's instructions as data: each code with its name, the
// instruction line that heads its decoded lines in the report, and the
// fields that its messages may hold in each direction. A program that
// describes the protocol (a dissector's generator, the launcher's list of
// instructions) walks kInstructions:
//
//   for (const Instruction& i : kInstructions)
//       for (const Field* f : i.pcFields) ... f->name, f->width, f->codes, f->bits
#pragma once

#include <cstdint>
#include <string_view>

#include "base/bytes.h"
#include "fields.h"
#include "instruction_set.h"
#include "protocol/control/control_fields.h"
#include "protocol/motion/motion_fields.h"
#include "protocol/table/table_fields.h"

namespace vornlog {

struct Instruction {
    std::uint8_t code;
    // As the instruction line gives it ("Buffer Management").
    std::string_view name;
    FieldList pcFields;
    FieldList controllerFields;
    // The controller sends no message of this instruction (Reset): a
    // controller message with its code is an unknown instruction.
    bool pcOnly = false;
    // "   => Inst 0x42=Buffer Management\n", made from the code and the name.
    char line[64]{};
    std::size_t lineSize = 0;

    // The name is the instruction set's.
    constexpr Instruction(std::uint8_t c, FieldList pc, FieldList controller, bool onlyPc = false)
        : code(c), name(nameOf(c)), pcFields(pc), controllerFields(controller), pcOnly(onlyPc)
    {
        constexpr std::string_view start = "   => Inst 0x";
        if (start.size() + 2 + 1 + name.size() + 1 > sizeof line) throw "instruction name too long";
        for (char ch : start) line[lineSize++] = ch;
        line[lineSize++] = fmt::kHexDigits[code >> 4];
        line[lineSize++] = fmt::kHexDigits[code & 15];
        line[lineSize++] = '=';
        for (char ch : name) line[lineSize++] = ch;
        line[lineSize++] = '\n';
    }

    // The letter whose code the instruction code is ('D' for 0x44).
    constexpr char letter() const { return static_cast<char>(code); }
    constexpr std::string_view instructionLine() const { return {line, lineSize}; }
    // Whether a message of `direction` with this code has a decoder.
    constexpr bool decoded(Direction direction) const { return direction == Direction::Pc || !pcOnly; }
    constexpr FieldList fields(Direction direction) const
    {
        return direction == Direction::Pc ? pcFields : controllerFields;
    }

private:
    static constexpr std::string_view nameOf(std::uint8_t code)
    {
        const InstructionName* known = findInstructionName(code);
        if (!known || !known->decoded) throw "a decoded instruction of the instruction set";
        return known->name;
    }
};

inline constexpr Instruction kInstructions[] = {
    {0x42, motion::kBufferFields, motion::kBufferReplyFields},
    {0x44, motion::kDataFields, motion::kDataReplyFields},
    {0x46, {}, control::kFlashModelReplyFields},
    {0x47, control::kIo1Fields, control::kIo1ReplyFields},
    {0x49, {}, motion::kInformationReplyFields},
    {0x4C, control::kLcdFields, control::kLcdReplyFields},
    {0x4D, control::kMotorsFields, control::kMotorsReplyFields},
    {0x4F, control::kOverrideFields, control::kOverrideReplyFields},
    {0x50, control::kPwmFields, control::kPwmReplyFields},
    {0x53, motion::kStopFields, motion::kStopReplyFields},
    {0x54, table::kTableFields, table::kTableReplyFields},
    {0x56, {}, control::kVersionReplyFields},
    {0x5A, control::kResetFields, {}, true},
};

// The instruction code of a message given as the hex pairs of a data field:
// its first byte.
inline std::uint8_t instructionCode(std::string_view field) { return Bytes(field).at(0); }

// Every instruction that the instruction set calls decoded is in the table.
constexpr bool decodesTheInstructionSet()
{
    for (const InstructionName& named : kInstructionSet) {
        int entries = 0;
        for (const Instruction& instruction : kInstructions) entries += instruction.code == named.code;
        if (entries != (named.decoded ? 1 : 0)) return false;
    }
    return true;
}
static_assert(decodesTheInstructionSet(), "the decoder table and the instruction set name the same instructions");

// The instruction of `code`, or null for a code the table does not know.
const Instruction* findInstruction(std::uint8_t code);

// The name of instruction `code` ("Buffer Management" for 0x42); empty for
// a code the table does not know.
std::string_view instructionName(std::uint8_t code);

} // namespace vornlog
