// The CheckAGarder boxes: one for each instruction of the controller's
// instruction set, in the boxes' order, with its caption and its place in
// the grid. The sorted copy keeps a block when the box of its instruction
// is ticked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "protocol/instruction_set.h"

namespace vornlog {

struct InstructionBox {
    std::uint8_t code;
    std::string_view caption; // UTF-8
    int column;               // 1 to 3
    int row;                  // 1 to 6
};

inline constexpr InstructionBox instructionBoxes[] = {
    {'V', "Version", 1, 1},
    {'B', "Buffer", 1, 2},
    {'D', "Data", 1, 3},
    {'I', "Informations", 1, 4},
    {'S', "Stop", 1, 5},
    {'T', "Table", 1, 6},
    {'P', "PWM", 2, 1},
    {'M', "Motors", 2, 2},
    {'G', "Géneral input/output", 2, 3},
    {'O', "Override", 2, 4},
    {'L', "LCD", 2, 5},
    {'Z', "Reset", 2, 6},
    {'F', "Flash Model", 3, 1},
    {'R', "Flash Read", 3, 2},
    {'E', "Flash Block Erase", 3, 3},
    {'W', "Flash Write", 3, 4},
    {'C', "ZQ3107 Programmig", 3, 6},
    {'Y', "Flash Content", 3, 5},
};
inline constexpr std::size_t instructionCount = std::size(instructionBoxes);

// The index of the box of instruction `code`; -1 for a code that is no
// instruction.
constexpr int instructionBox(int code)
{
    for (std::size_t i = 0; i < instructionCount; ++i)
        if (instructionBoxes[i].code == code) return static_cast<int>(i);
    return -1;
}

// Every instruction has its box, and every box is an instruction's.
constexpr bool oneBoxEach()
{
    for (const InstructionName& instruction : kInstructionSet)
        if (instructionBox(instruction.code) < 0) return false;
    for (std::size_t i = 0; i < instructionCount; ++i)
        if (!findInInstructionSet(instructionBoxes[i].code) || instructionBox(instructionBoxes[i].code) != static_cast<int>(i))
            return false;
    return std::size(kInstructionSet) == instructionCount;
}
static_assert(oneBoxEach(), "one box for each instruction of the instruction set");

} // namespace vornlog
