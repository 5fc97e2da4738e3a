// The steps CSV: rows from the PC's Data messages and the controller's
// stored-data replies.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "capture/capture.h"
#include "capture_builder.h"
#include "base/out.h"
#include "output/steps_csv.h"
#include "output/progress.h"

namespace vornlog {
namespace {

constexpr std::string_view kHeader = "Cur_seg;Buffer;Nbr pulse;S1;S2;S3;S4;S5;PWM;F_ACC;F_DEC;Nbr dec\n";

std::string pc(std::string_view field) { return vornlog::testing::captureLine(true, field); }
std::string qmr(std::string_view field) { return vornlog::testing::captureLine(false, field); }

// The worked Data message: CMD 0x61, NBR 1000, S1 100, S2 50, PWM 128,
// F_ACC 10, F_DEC 12, NBR_DEC 200.
const std::string kAccelerated =
    pc("44 61 E8 03 00 00 64 00 00 00 32 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 80 0A 0C C8 00 00 00");
// CMD 0x1F (no axis reversed, no PWM, no acceleration), NBR 300, S1 20, S2 40.
const std::string kPlain = pc("44 1F 2C 01 00 00 14 00 00 00 28 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
const std::string kEndOfData = pc("44 80 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");

// A Data reply with status `st`, buffer fill `buf` and segment `seg` (hex pairs).
std::string reply(std::string_view st, std::string_view buf, std::string_view seg)
{
    return qmr("44 " + std::string(st) + " " + std::string(buf) + " " + std::string(seg) +
               " 00 08 00 00 00 00 00 00 00 00");
}

struct Result {
    std::string csv;
    std::string console;
};

Result steps(std::string_view capture)
{
    Result r;
    {
        LineReader in(capture);
        Out dest(&r.csv);
        Out console(&r.console);
        Progress progress(console);
        writeStepsCsv(in, dest, console, progress);
    }
    return r;
}

TEST(StepsCsv, WorkedRows)
{
    EXPECT_EQ(steps(kAccelerated + reply("01", "03", "11 00 00")).csv,
              std::string(kHeader) + "17;42%;1000;50;-25;0;0;0;128;10;12;200\n");
    EXPECT_EQ(steps(kPlain + reply("01", "01", "05 00 00")).csv,
              std::string(kHeader) + "5;14%;300;10;20;0;0;0;;;;\n");
}

// PWM and acceleration values of an earlier segment are not carried into
// a row whose CMD lacks them; an end-of-data row has two fields only.
TEST(StepsCsv, RowsFollowEachHeldCommand)
{
    const std::string capture = kAccelerated + reply("01", "03", "11 00 00") + kEndOfData +
                                reply("01", "07", "12 00 00") + kPlain + reply("01", "08", "00 01 00");
    EXPECT_EQ(steps(capture).csv, std::string(kHeader) +
                                      "17;42%;1000;50;-25;0;0;0;128;10;12;200\n"
                                      "18;-\n"
                                      "256;114%;300;10;20;0;0;0;;;;\n");
}

// Refused, full and unknown statuses write nothing; the resent segment is
// written once, when it is stored. Other messages change nothing.
TEST(StepsCsv, OnlyStoredDataRepliesWriteRows)
{
    const std::string capture = kPlain + reply("FF", "07", "04 00 00") + qmr("49 01 03 09 00 00 00 08 00 00 00 00 00 00 00 00") +
                                pc("49 00 00 00 00 00 00 00 00 00 00 00 00 00") + pc("42 80 00 00 00 00 00 00 00 00") +
                                kPlain + reply("00", "00", "04 00 00") + reply("02", "00", "04 00 00") +
                                reply("01", "01", "05 00 00");
    EXPECT_EQ(steps(capture).csv, std::string(kHeader) + "5;14%;300;10;20;0;0;0;;;;\n");
}

// The last Data message before the reply is the one written.
TEST(StepsCsv, LatestDataMessageWins)
{
    EXPECT_EQ(steps(kAccelerated + kPlain + reply("01", "01", "05 00 00")).csv,
              std::string(kHeader) + "5;14%;300;10;20;0;0;0;;;;\n");
}

// Odd values are halved toward zero before the sign of a reversed axis is
// set: S1 7 reversed gives -3, S2 -7 reversed gives 3, S3 -1 gives 0.
TEST(StepsCsv, OddAxisValuesAndReversedSigns)
{
    const std::string data = pc("44 1C 0A 00 00 00 07 00 00 00 F9 FF FF FF FF FF FF FF 00 00 00 00 00 00 00 00");
    EXPECT_EQ(steps(data + reply("01", "02", "01 00 00")).csv, std::string(kHeader) + "1;28%;10;-3;3;0;0;0;;;;\n");
}

// A second confirmation of the same segment shows the same signs.
TEST(StepsCsv, RepeatedConfirmationKeepsSigns)
{
    EXPECT_EQ(steps(kAccelerated + reply("01", "03", "11 00 00") + reply("01", "03", "11 00 00")).csv,
              std::string(kHeader) +
                  "17;42%;1000;50;-25;0;0;0;128;10;12;200\n"
                  "17;42%;1000;50;-25;0;0;0;128;10;12;200\n");
}

// No Data message: the header alone, one progress line for every line read
// after the blank console line. A stored-data reply with no segment
// before it writes no row.
TEST(StepsCsv, NoDataMessageGivesHeaderOnly)
{
    const Result r = steps("1\tOUT\t0\t1\t49\n" + reply("01", "03", "11 00 00") + "\n" + qmr("53 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(r.csv, kHeader);
    EXPECT_EQ(r.console, "\n\rAnalyzing line: 1\rAnalyzing line: 2\rAnalyzing line: 3\rAnalyzing line: 4");

    const Result empty = steps("");
    EXPECT_EQ(empty.csv, kHeader);
    EXPECT_EQ(empty.console, "\n");
}

} // namespace
} // namespace vornlog
