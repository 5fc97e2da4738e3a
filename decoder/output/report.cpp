#include "report.h"

#include <array>
#include <cstring>
#include <iterator>
#include <string_view>

#include "output/bit_rows.h"
#include "output/progress.h"
#include "protocol/both_sinks.h"
#include "protocol/decode.h"
#include "protocol/instructions.h"
#include "protocol/values.h"

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

// A bit row, "       .3=1\t-> Source:USB\n": kUnder, ".", the bit, "=", its
// value, "\t-> ", the meaning and the line end. The protocol's rows are
// made when compiling in rooms of kBitRowRoom (one that does not fit does
// not compile); another table's at run time, in a room for the longest.
constexpr std::size_t kBitRowRoom = 80;
constexpr std::size_t kLongestBitRow = kUnder.size + 1 + 2 + 1 + 1 + 4 + BitText::kMostText + 1;

template <std::size_t Room>
constexpr void writeBitRow(BitRow<Room>& row, int bit, int value, std::string_view meaning)
{
    row.add(kUnder.view());
    row.add(".");
    row.addNumber(bit);
    row.add("=");
    row.addNumber(value);
    row.add("\t-> ");
    row.add(meaning);
    row.add("\n");
}

constexpr auto kBitRows = renderBitRows<kBitRowRoom>(writeBitRow<kBitRowRoom>);
static_assert(kBitRowRoom <= kLongestBitRow, "the room putBits takes holds a copied row's room");

} // namespace

void putBits(Out& out, std::span<const BitText> table, unsigned value)
{
    char* p = out.room(table.size() * kLongestBitRow);
    if (char* end = kBitRows.put(p, table, value)) {
        out.advance(end);
        return;
    }
    for (const BitText& entry : table) {
        const int bit = (value >> entry.bit) & 1;
        const TableText& meaning = entry.meaning(bit);
        if (!meaning) continue;
        BitRow<kLongestBitRow> row;
        writeBitRow(row, entry.bit, bit, meaning.view());
        std::memcpy(p, row.text, row.size);
        p += row.size;
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
        out_.write(kFrame.view());
        putTextLine(out_, kUnknownInstruction);
    }
}

namespace {

void putEcho(Direction direction, std::string_view field, Out& dest)
{
    if (direction == Direction::Pc)
        put<"PC     :  %s\n">(dest, field);
    else
        put<" QMR5V :  %s\n">(dest, field);
}

} // namespace

void reportMessage(Direction direction, std::string_view field, Out& dest)
{
    putEcho(direction, field, dest);
    ReportSink sink(dest);
    decodeMessage(direction, field, sink);
}

void writeReport(MessageSource& in, Out& dest, Progress& progress)
{
    CaptureRecord record;
    while (!dest.failed() && in.next(record)) {
        progress.count();
        if (!record.isMessage || record.shortLine) continue;
        // The findings below take this decoding's values when they read.
        ValueSink* values = in.valuesFor(record);
        if (!values) {
            reportMessage(record.direction, record.field, dest);
            continue;
        }
        putEcho(record.direction, record.field, dest);
        ReportSink sink(dest);
        BothSinks both(sink, *values);
        decodeMessage(record.direction, record.field, both);
    }
}

} // namespace vornlog
