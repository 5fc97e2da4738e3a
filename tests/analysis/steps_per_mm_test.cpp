// The steps for 1 mm that the motion model reads from the Table messages:
// the last one that gives them for S1 and S2, either way.
#include <gtest/gtest.h>

#include <string>

#include "analysis/findings.h"
#include "capture/capture.h"
#include "capture_builder.h"
#include "protocol/decode.h"
#include "protocol/lines.h"
#include "protocol/values.h"

using namespace vornlog;

namespace {

std::optional<motion::StepsPerMm> perMmOf(const std::string& capture)
{
    LineReader lines(capture);
    TextDumpSource in(lines);
    in.readTimes();
    findings::Engine engine(true, false, [](const findings::Finding&) {});
    ValueSink values;
    CaptureRecord record;
    while (in.next(record))
        if (record.isMessage) {
            decodeMessage(record.direction, record.field, values);
            engine.feed(record, values);
        }
    return engine.model().stepsPerMm();
}

// The high part of a Table: S1, S2, S3 (two bytes each), then the speeds.
std::string tableHigh(bool fromPc, int number, const char* s1, const char* s3)
{
    return vornlog::testing::captureLine(number, fromPc, "-",
                                std::string(fromPc ? "54 06 01 " : "54 05 01 ") + s1 + " C8 00 " + s3 +
                                    " 00 00 00 00 B8 0B B8 0B D0 07 00 00 00 00 70 17 70 17 A0 0F 00 00 00 00");
}

} // namespace

TEST(StepsPerMm, TheLastTableThatGivesS1AndS2)
{
    EXPECT_FALSE(perMmOf(vornlog::testing::captureLine(1, true, "-", "4D 03 05")));

    // Read from the controller, then written by the PC: the PC's.
    auto mm = perMmOf(tableHigh(false, 4, "C8 00", "90 01") + tableHigh(true, 9, "64 00", "00 00"));
    ASSERT_TRUE(mm);
    EXPECT_EQ(mm->steps, (std::array<std::int32_t, 3>{100, 200, 0}));
    EXPECT_EQ(mm->number, 2u); // (a text dump's messages are numbered by their lines)

    // A table without S1 gives none: the one before stays.
    mm = perMmOf(tableHigh(true, 4, "C8 00", "90 01") + tableHigh(true, 9, "00 00", "90 01"));
    ASSERT_TRUE(mm);
    EXPECT_EQ(mm->steps, (std::array<std::int32_t, 3>{200, 200, 400}));
    EXPECT_EQ(mm->number, 1u);
}
