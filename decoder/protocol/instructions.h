// The controller's instructions as the decoder reads them: each of the
// instruction set (instruction_set.h, where its code and name are) with,
// for each direction that the decoder reads, its layout
// (instructions/<name>.h holds an instruction's fields, tables and
// layouts). An instruction without layouts has no decoder: its messages
// show as unknown instructions in the report, but the launcher's boxes and
// the sorted copy know it like any other.
// An instruction letter is the character whose code is the instruction
// code ('D' for 0x44, Data).
//
//   for (const Instruction& i : kInstructions)
//       for (const Field* f : i.fields(Direction::Pc)) ... f->name, f->width, f->codes, f->bits
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "base/bytes.h"
#include "base/out.h"
#include "fields.h"
#include "instruction_set.h"
#include "instructions/buffer_management.h"
#include "instructions/data.h"
#include "instructions/flash_model.h"
#include "instructions/information.h"
#include "instructions/io1.h"
#include "instructions/lcd.h"
#include "instructions/motors.h"
#include "instructions/override.h"
#include "instructions/pwm.h"
#include "instructions/reset.h"
#include "instructions/stop.h"
#include "instructions/table.h"
#include "instructions/version.h"
#include "layout.h"

namespace vornlog {

struct Instruction {
    std::uint8_t code;
    // As the instruction line gives it ("Buffer Management").
    std::string_view name;
    // The layouts of its messages from the PC and from the controller; null
    // for a direction that the decoder does not read (the controller sends
    // no Reset), both null for an instruction without a decoder.
    const Layout* pc = nullptr;
    const Layout* controller = nullptr;

    // The name is the instruction set's.
    constexpr Instruction(std::uint8_t c, const Layout* fromPc = nullptr, const Layout* fromController = nullptr)
        : code(c), pc(fromPc), controller(fromController)
    {
        const InstructionName* named = findInInstructionSet(c);
        if (!named) throw "an instruction of the instruction set";
        name = named->name;
    }

    // The letter whose code the instruction code is ('D' for 0x44).
    constexpr char letter() const { return static_cast<char>(code); }
    // Whether the decoder decodes its messages.
    constexpr bool decoded() const { return pc != nullptr; }
    constexpr const Layout* layout(Direction direction) const
    {
        return direction == Direction::Pc ? pc : controller;
    }
    // Whether a message of `direction` with this code has a decoder.
    constexpr bool decoded(Direction direction) const { return layout(direction) != nullptr; }
    // Every field that its messages of `direction` may hold, in message order.
    constexpr FieldList fields(Direction direction) const
    {
        const Layout* l = layout(direction);
        return l ? l->fields() : FieldList();
    }
};

// In the order of the instruction set, which names them.
inline constexpr Instruction kInstructions[] = {
    {motion::kBufferCode, &motion::kBufferPc, &motion::kBufferReply},
    {0x43},
    {motion::kDataCode, &motion::kDataPc, &motion::kDataReply},
    {0x45},
    {0x46, &control::kNoParametersRequest, &control::kFlashModelReply},
    {0x47, &control::kIo1Pc, &control::kIo1Reply},
    {motion::kInformationCode, &control::kNoParametersRequest, &motion::kInformationReply},
    {0x4C, &control::kLcdPc, &control::kLcdReply},
    {0x4D, &control::kMotorsPc, &control::kMotorsReply},
    {0x4F, &control::kOverridePc, &control::kOverrideReply},
    {0x50, &control::kPwmPc, &control::kPwmReply},
    {0x52},
    {motion::kStopCode, &motion::kStopPc, &motion::kStopReply},
    {table::kTableCode, &table::kTablePc, &table::kTableReply},
    {0x56, &control::kNoParametersRequest, &control::kVersionReply},
    {0x57},
    {0x59},
    {control::kResetCode, &control::kResetPc},
};

namespace detail {

// The place of each code's instruction in kInstructions; -1 for a code
// that is none.
inline constexpr auto kInstructionIndex = [] {
    std::array<std::int8_t, 256> index{};
    index.fill(-1);
    for (std::size_t i = 0; i < std::size(kInstructions); ++i) {
        if (index[kInstructions[i].code] >= 0) throw "one entry for each instruction code";
        index[kInstructions[i].code] = static_cast<std::int8_t>(i);
    }
    return index;
}();

// Every instruction of the set is here once, in its order.
constexpr bool eachOfTheSet()
{
    if (std::size(kInstructions) != std::size(kInstructionSet)) return false;
    for (std::size_t i = 0; i < std::size(kInstructions); ++i)
        if (kInstructions[i].code != kInstructionSet[i].code) return false;
    return true;
}
static_assert(eachOfTheSet(), "one entry for each instruction of the instruction set, in its order");

} // namespace detail

// The instruction of `code`, or null for a code that is none.
constexpr const Instruction* findInstructionName(int code)
{
    if (code < 0 || code > 255 || detail::kInstructionIndex[static_cast<std::size_t>(code)] < 0) return nullptr;
    return &kInstructions[detail::kInstructionIndex[static_cast<std::size_t>(code)]];
}

// The decoded instruction of `code`, or null for a code without a decoder.
// Inline: the decoders look it up for every message.
constexpr const Instruction* findInstruction(std::uint8_t code)
{
    const Instruction* instruction = findInstructionName(code);
    return instruction && instruction->decoded() ? instruction : nullptr;
}

// The name of the decoded instruction `code` ("Buffer Management" for
// 0x42); empty for a code without a decoder.
std::string_view instructionName(std::uint8_t code);

// The instruction code of a message given as the hex pairs of a data field:
// its first byte.
inline std::uint8_t instructionCode(std::string_view field) { return Bytes(field).at(0); }

} // namespace vornlog
