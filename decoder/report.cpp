#include "report.h"

#include "progress.h"

namespace vornlog {

void reportLine(std::string_view captureLine, Out& dest)
{
    CaptureLine line;
    if (!parseCaptureLine(captureLine, line)) return;
    if (line.direction == Direction::Pc)
        put<"PC     :  %s\n">(dest, line.field);
    else
        put<" QMR5V :  %s\n">(dest, line.field);

    Message message{Bytes(line.field), 0, dest};
    message.code = message.u8();
    std::string_view instructionLine;
    if (Decoder decode = findDecoder(line.direction, message.code, &instructionLine)) {
        dest.write(instructionLine);
        decode(message);
    } else {
        dest.write("   => ERROR: Unknown instruction...\n");
    }
}

void writeReport(LineReader& in, Out& dest, Progress& progress)
{
    std::string_view captureLine;
    while (!dest.failed() && in.next(captureLine)) {
        progress.count();
        reportLine(captureLine, dest);
    }
}

} // namespace vornlog
