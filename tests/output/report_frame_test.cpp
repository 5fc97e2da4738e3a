#include <gtest/gtest.h>

#include <string>

#include "output/report.h"
#include "report_lines.h"
#include "output/progress.h"

using namespace vornlog;

namespace {

std::string report(std::string_view capture)
{
    std::string s, console;
    {
        Out out(&s);
        Out con(&console);
        Progress progress(con);
        LineReader in(capture);
        writeReport(in, out, progress);
    }
    return s;
}

const std::string kUnknown = "   => ERROR: Unknown instruction...\n";

} // namespace

TEST(ReportFrame, EchoLinesShowTheSenderAndTheDataField)
{
    EXPECT_EQ(report("13\tIN\t00:00:02.517\t8\t55 02 10 27 00 00 FF FF\tU..'....\n"),
              " QMR5V :  55 02 10 27 00 00 FF FF\n" + kUnknown);
    // The last column carries the line end: an empty line follows the echo.
    EXPECT_EQ(report("14\tOUT\t00:00:02.521\t8\t43 01 00 00 00 00 00 00\r\n"),
              "PC     :  43 01 00 00 00 00 00 00\n\n" + kUnknown);
}

TEST(ReportFrame, CodesWithoutADecoderGetTheUnknownInstructionLine)
{
    for (const char* code : {"43", "45", "48", "55", "00", "FF"}) {
        const std::string line = std::string("000001\tOUT\t2026-11-30 14:02:11.517\t2\t") + code + " 01\tx\n";
        EXPECT_EQ(report(line), "PC     :  " + std::string(code) + " 01\n" + kUnknown) << code;
    }
    // Reset has no decoder for the controller's direction.
    EXPECT_EQ(report("1\tIN\t2026-11-30 14:02:11.517\t4\t5A 55 AA 00\tZU..\n"),
              " QMR5V :  5A 55 AA 00\n" + kUnknown);
}

TEST(ReportFrame, AnEmptyDataFieldReadsInstructionCodeZero)
{
    EXPECT_EQ(report("1\tOUT\t2026-11-30 14:02:11.517\t0\t\tsixth column\n"), "PC     :  \n" + kUnknown);
}

TEST(ReportFrame, ShortLinesAndLinesWithoutDataFieldWriteNothing)
{
    EXPECT_EQ(report(""), "");
    EXPECT_EQ(report("1\tOUT\t0\t1\t56\tV\r\n2\tIN\t0\t1\t56\tV\r\n"), "");
    EXPECT_EQ(report("no tabs at all in this line, but it is long enough\n"), "");
}

TEST(ReportFrame, IdenticalLinesGiveIdenticalBlocks)
{
    const std::string line = "7\tIN\t2026-11-30 14:02:11.517\t3\t48 01 02\tH..\n";
    const std::string once = report(line);
    EXPECT_EQ(report(line + line), once + once);
}

TEST(ReportFrame, ProgressCountsEveryCaptureLineShortOnesIncluded)
{
    std::string s, console;
    {
        Out out(&s);
        Out con(&console);
        Progress progress(con);
        const std::string capture = "a\nb\n" + std::string(300, 'c');
        LineReader in(capture);
        writeReport(in, out, progress);
    }
    EXPECT_EQ(console, "\rAnalyzing line: 1\rAnalyzing line: 2\rAnalyzing line: 3\rAnalyzing line: 4");
}
