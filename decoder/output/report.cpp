#include "report.h"

#include <cstring>

#include "output/progress.h"
#include "protocol/decode.h"
#include "protocol/instructions.h"

namespace vornlog {

void putBits(Out& out, std::span<const BitText> table, unsigned value)
{
    // Each line is copied whole and the end moved on by its size (0 for no
    // line): no branch on the bit, no length to find.
    char* p = out.room(table.size() * BitLine::kCapacity);
    for (const BitText& entry : table) {
        const BitLine& line = (value >> entry.bit) & 1 ? entry.whenSet : entry.whenClear;
        std::memcpy(p, line.text, BitLine::kCapacity);
        p += line.size;
    }
    out.advance(p);
}

void ReportSink::instruction(std::uint8_t, const Instruction* instruction)
{
    if (instruction) {
        out_.write(instruction->instructionLine());
    } else {
        out_.write(std::string_view(kUnknownInstruction));
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
