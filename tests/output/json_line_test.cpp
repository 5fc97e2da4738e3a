// One message's JSON line, written alone (the viewer's details), is the
// line that the whole capture's JSON Lines hold for it.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/out.h"
#include "capture/capture.h"
#include "capture/source.h"
#include "output/json_lines.h"
#include "output/progress.h"
#include "protocol/lines.h"

using namespace vornlog;

TEST(JsonLine, OneMessageAloneIsItsLineInTheWholeCapture)
{
    // A capture whose first message has no time, and ones with times.
    for (const char* name : {"session.txt", "stall.txt", "compare-before.txt"}) {
        SCOPED_TRACE(name);
        std::ifstream file(std::string(VORNLOG_SOURCE_DIR) + "/examples/" + name, std::ios::binary);
        std::ostringstream read;
        read << file.rdbuf();
        const std::string capture = read.str();

        std::string whole, console;
        {
            LineReader lines(capture);
            TextDumpSource in(lines);
            Out out(&whole, false);
            Out con(&console);
            Progress progress(con, false);
            writeJsonLines(in, out, progress);
        }

        LineReader lines(capture);
        TextDumpSource in(lines);
        in.readTimes();
        std::vector<CaptureRecord> records;
        std::vector<std::string> fields; // (the records' fields point into the reader's line)
        CaptureRecord record;
        while (in.next(record))
            if (record.isMessage) {
                records.push_back(record);
                fields.emplace_back(record.field);
            }
        std::optional<std::size_t> firstTimed;
        for (std::size_t i = 0; i < records.size() && !firstTimed; ++i)
            if (records[i].hasTime) firstTimed = i;
        std::string alone;
        {
            Out out(&alone, false);
            for (std::size_t i = 0; i < records.size(); ++i) {
                records[i].field = fields[i];
                const CaptureRecord* start = nullptr;
                if (firstTimed) {
                    records[*firstTimed].field = fields[*firstTimed];
                    start = &records[*firstTimed];
                }
                writeJsonLine(records[i], start, out);
            }
        }
        ASSERT_GT(records.size(), 10u);
        EXPECT_EQ(alone, whole);
    }
}
