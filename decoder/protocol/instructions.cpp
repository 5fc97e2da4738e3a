// The instructions by code.
#include "instructions.h"

#include <array>

namespace vornlog {

namespace {

constexpr auto kByCode = [] {
    std::array<const Instruction*, 256> byCode{};
    for (const Instruction& instruction : kInstructions) byCode[instruction.code] = &instruction;
    return byCode;
}();

} // namespace

const Instruction* findInstruction(std::uint8_t code) { return kByCode[code]; }

std::string_view instructionName(std::uint8_t code)
{
    const Instruction* instruction = kByCode[code];
    return instruction ? instruction->name : std::string_view();
}

} // namespace vornlog
