// The decoder table: which decoder reads a message, by instruction code and
// direction. Every code and direction not named here gets the
// unknown-instruction line.
#include <array>

#include "report.h"

namespace vornlog {

namespace {

constexpr Instruction kInstructions[] = {
    // code, instruction line, PC decoder, controller decoder
    {0, nullptr, nullptr, nullptr}, // placeholder so the table is never empty
};

struct DecoderTable {
    std::array<const Instruction*, 256> byCode{};
    constexpr DecoderTable()
    {
        for (const Instruction& instruction : kInstructions)
            if (instruction.line) byCode[instruction.code] = &instruction;
    }
};

constexpr DecoderTable kTable;

} // namespace

Decoder findDecoder(Direction direction, std::uint8_t code, const char** line)
{
    const Instruction* instruction = kTable.byCode[code];
    if (!instruction) return nullptr;
    *line = instruction->line;
    return direction == Direction::Pc ? instruction->pc : instruction->controller;
}

} // namespace vornlog
