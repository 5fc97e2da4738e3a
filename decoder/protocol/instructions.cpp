// The decoded instructions by code.
#include "instructions.h"

namespace vornlog {

std::string_view instructionName(std::uint8_t code)
{
    const Instruction* instruction = findInstruction(code);
    return instruction ? instruction->name : std::string_view();
}

} // namespace vornlog
