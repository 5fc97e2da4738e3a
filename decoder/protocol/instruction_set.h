// The controller's instruction set: every instruction by its code and its
// name (as the report's instruction line gives it), in code order. This
// header stands alone (the standard library only): the launcher's boxes
// and its sorted copy know the instructions from it without the decoder.
// protocol/instructions.h gives each of them its layouts.
#pragma once

#include <cstdint>
#include <iterator>
#include <string_view>

namespace vornlog {

struct InstructionName {
    std::uint8_t code;
    std::string_view name;
};

inline constexpr InstructionName kInstructionSet[] = {
    {0x42, "Buffer Management"},
    {0x43, "ZQ3107 Programming"},
    {0x44, "Data"},
    {0x45, "Flash Block Erase"},
    {0x46, "Flash Model"},
    {0x47, "General input/output IO1"},
    {0x49, "Information"},
    {0x4C, "LCD"},
    {0x4D, "Motors ON/OFF"},
    {0x4F, "Override Origin/End"},
    {0x50, "PWM"},
    {0x52, "Flash Read"},
    {0x53, "Stop"},
    {0x54, "TABLE"},
    {0x56, "Version"},
    {0x57, "Flash Write"},
    {0x59, "Flash Content"},
    {0x5A, "Reset"},
};

// The instruction of `code` in the set; null for a code that is none.
constexpr const InstructionName* findInInstructionSet(int code)
{
    for (const InstructionName& instruction : kInstructionSet)
        if (instruction.code == code) return &instruction;
    return nullptr;
}

} // namespace vornlog
