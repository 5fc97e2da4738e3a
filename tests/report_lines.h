// The report written straight from the lines of a text dump, for the tests
// that compare it line by line: the program itself always reads a message
// source.
#pragma once

#include <string_view>

#include "base/out.h"
#include "capture/capture.h"
#include "capture/source.h"
#include "output/progress.h"
#include "output/report.h"

namespace vornlog {

// Decodes one capture line into the report (nothing for a line that holds
// no message).
inline void reportLine(std::string_view captureLine, Out& dest)
{
    CaptureLine line;
    if (parseCaptureLine(captureLine, line)) reportMessage(line.direction, line.field, dest);
}

// The report loop over the capture lines of a text dump.
inline void writeReport(LineReader& in, Out& dest, Progress& progress)
{
    TextDumpSource source(in);
    writeReport(source, dest, progress);
}

} // namespace vornlog
