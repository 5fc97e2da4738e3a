#include "report.h"

#include <array>
#include <cstring>
#include <iterator>
#include <string_view>

#include "output/progress.h"
#include "protocol/decode.h"
#include "protocol/instructions.h"

namespace vornlog {

namespace {

// An instruction's line, "   => Inst 0x42=Buffer Management\n", made from
// its code and name when compiling, so that writing it is one copy.
struct InstructionLine {
    char text[64]{};
    std::size_t size = 0;
};

constexpr InstructionLine instructionLine(const Instruction& instruction)
{
    constexpr std::string_view start = "Inst 0x";
    InstructionLine line;
    for (char ch : kFrame.view()) line.text[line.size++] = ch;
    if (kFrame.size + start.size() + 2 + 1 + instruction.name.size() + 1 > sizeof line.text)
        throw "instruction name too long";
    for (char ch : start) line.text[line.size++] = ch;
    line.text[line.size++] = fmt::kHexDigits[instruction.code >> 4];
    line.text[line.size++] = fmt::kHexDigits[instruction.code & 15];
    line.text[line.size++] = '=';
    for (char ch : instruction.name) line.text[line.size++] = ch;
    line.text[line.size++] = '\n';
    return line;
}

// The lines of kInstructions, in its order.
constexpr auto kInstructionLines = [] {
    std::array<InstructionLine, std::size(kInstructions)> lines{};
    for (std::size_t i = 0; i < lines.size(); ++i) lines[i] = instructionLine(kInstructions[i]);
    return lines;
}();

} // namespace

void putBits(Out& out, std::span<const BitText> table, unsigned value)
{
    // "       .", the bit, "=", its value, "\t-> ", the meaning, the line end.
    constexpr std::string_view start = "       .";
    static_assert(start.size() == kUnder.size + 1);
    constexpr std::size_t kMostRow = 8 + 2 + 1 + 1 + 4 + BitText::kMostText + 1;
    char* p = out.room(table.size() * kMostRow);
    for (const BitText& entry : table) {
        const int bit = (value >> entry.bit) & 1;
        const TableText& meaning = entry.meaning(bit);
        if (!meaning) continue;
        std::memcpy(p, start.data(), start.size());
        p += start.size();
        if (entry.bit >= 10) *p++ = static_cast<char>('0' + entry.bit / 10);
        p[0] = static_cast<char>('0' + entry.bit % 10);
        p[1] = '=';
        p[2] = static_cast<char>('0' + bit);
        std::memcpy(p + 3, "\t-> ", 4);
        p += 7;
        std::memcpy(p, meaning.text, meaning.size);
        p += meaning.size;
        *p++ = '\n';
    }
    out.advance(p);
}

void ReportSink::instruction(std::uint8_t, const Instruction* instruction)
{
    if (instruction) {
        const auto at = static_cast<std::size_t>(detail::kInstructionIndex[instruction->code]);
        const InstructionLine& line = kInstructionLines[at];
        out_.write(line.text, line.size);
    } else {
        put<fmt::join(kFrame, fmt::join(fmt::Text(kUnknownInstruction), fmt::Text("\n")))>(out_);
    }
}

void reportMessage(Direction direction, std::string_view field, Out& dest)
{
    if (direction == Direction::Pc)
        put<"PC     :  %s\n">(dest, field);
    else
        put<" QMR5V :  %s\n">(dest, field);
    ReportSink sink(dest);
    decodeMessage(direction, field, sink);
}

void writeReport(MessageSource& in, Out& dest, Progress& progress)
{
    CaptureRecord record;
    while (!dest.failed() && in.next(record)) {
        progress.count();
        if (record.isMessage && !record.shortLine) reportMessage(record.direction, record.field, dest);
    }
}

} // namespace vornlog
