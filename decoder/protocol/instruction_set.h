// The controller's instructions, each by its code and name: the one list
// that the decoder (its instruction table, instructions.h) and the
// launcher (its check boxes and the sorted copy) are built on. An
// instruction letter is the character whose code is the instruction code
// ('D' for 0x44, Data). Some instructions have no decoder: their messages
// show as unknown instructions in the report, but the sorted copy keeps
// their blocks like any other's.
#pragma once

#include <cstdint>
#include <string_view>

namespace vornlog {

struct InstructionName {
    std::uint8_t code;
    // As the report's instruction line gives it ("Buffer Management").
    std::string_view name;
    // Whether the decoder decodes its messages.
    bool decoded;

    constexpr char letter() const { return static_cast<char>(code); }
};

inline constexpr InstructionName kInstructionSet[] = {
    {0x42, "Buffer Management", true},
    {0x43, "ZQ3107 Programming", false},
    {0x44, "Data", true},
    {0x45, "Flash Block Erase", false},
    {0x46, "Flash Model", true},
    {0x47, "General input/output IO1", true},
    {0x49, "Information", true},
    {0x4C, "LCD", true},
    {0x4D, "Motors ON/OFF", true},
    {0x4F, "Override Origin/End", true},
    {0x50, "PWM", true},
    {0x52, "Flash Read", false},
    {0x53, "Stop", true},
    {0x54, "TABLE", true},
    {0x56, "Version", true},
    {0x57, "Flash Write", false},
    {0x59, "Flash Content", false},
    {0x5A, "Reset", true},
};

// The instruction of `code`, or null for a code that is none.
constexpr const InstructionName* findInstructionName(int code)
{
    for (const InstructionName& instruction : kInstructionSet)
        if (instruction.code == code) return &instruction;
    return nullptr;
}

} // namespace vornlog
