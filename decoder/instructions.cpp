// The decoder table: which decoder reads a message, by instruction code and
// direction. Every code and direction not named here gets the
// unknown-instruction line.
#include <array>

#include "control/control.h"
#include "motion/motion.h"
#include "report.h"
#include "table/table.h"

namespace vornlog {

namespace {

constexpr Instruction kInstructions[] = {
    // code, instruction line, PC decoder, controller decoder
    {0x42, "   => Inst 0x42=Buffer Management\n", motion::pcBufferManagement, motion::controllerBufferManagement},
    {0x44, "   => Inst 0x44=Data\n", motion::pcData, motion::controllerStatus},
    {0x46, "   => Inst 0x46=Flash Model\n", control::pcNoParameters, control::controllerFlashModel},
    {0x47, "   => Inst 0x47=General input/output IO1\n", control::pcIo1, control::controllerIo1},
    {0x49, "   => Inst 0x49=Information\n", control::pcNoParameters, motion::controllerStatus},
    {0x4C, "   => Inst 0x4C=LCD\n", control::pcLcd, control::controllerLcd},
    {0x4D, "   => Inst 0x4D=Motors ON/OFF\n", control::pcMotors, control::controllerMotors},
    {0x4F, "   => Inst 0x4F=Override Origin/End\n", control::pcOverride, control::controllerOverride},
    {0x50, "   => Inst 0x50=PWM\n", control::pcPwm, control::controllerPwm},
    {0x53, "   => Inst 0x53=Stop\n", motion::pcStop, motion::controllerStop},
    {0x54, "   => Inst 0x54=TABLE\n", table::pcTable, table::controllerTable},
    {0x56, "   => Inst 0x56=Version\n", control::pcNoParameters, control::controllerVersion},
    {0x5A, "   => Inst 0x5A=Reset\n", control::pcReset, nullptr}, // the controller sends no Reset
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

Decoder findDecoder(Direction direction, std::uint8_t code, std::string_view* line)
{
    const Instruction* instruction = kTable.byCode[code];
    if (!instruction) return nullptr;
    *line = instruction->line.view();
    return direction == Direction::Pc ? instruction->pc : instruction->controller;
}

std::string_view instructionName(std::uint8_t code)
{
    const Instruction* instruction = kTable.byCode[code];
    if (!instruction) return {};
    // "   => Inst 0x42=Buffer Management\n": after the "=" that follows the
    // code, up to the line end.
    const std::string_view line = instruction->line.view();
    const std::size_t start = line.find('=', line.find("0x")) + 1;
    return line.substr(start, line.size() - 1 - start);
}

} // namespace vornlog
