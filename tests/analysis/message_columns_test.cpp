// The views' columns of a crafted capture whose marks, delays and stored
// segments are known.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "analysis/findings.h"
#include "analysis/message_columns.h"
#include "capture/capture.h"
#include "capture/source.h"
#include "capture_builder.h"

using namespace vornlog;
using vornlog::testing::dataMessage;
using vornlog::testing::dataReply;

namespace {

std::string pc(int n, std::string_view hex, std::string_view time) { return vornlog::testing::captureLine(n, true, time, hex); }
std::string qmr(int n, std::string_view hex, std::string_view time) { return vornlog::testing::captureLine(n, false, time, hex); }

MessageColumns columnsOf(const std::string& capture)
{
    LineReader lines(capture);
    TextDumpSource in(lines);
    in.readTimes();
    MessageColumns columns;
    MessageColumnsMaker maker(columns);
    CaptureRecord record;
    while (in.next(record))
        if (record.isMessage) maker.add(record);
    maker.finish();
    return columns;
}

} // namespace

TEST(MessageColumns, MarksDelaysAndStoredSegmentsOfEachMessage)
{
    const std::string capture =
        pc(1, "56", "100.000000") +                                            // Version: no reply before the next
        pc(2, "4D 02", "100.010000") +                                         // Motors
        qmr(3, "4D 01 3C", "100.012500") +                                     // answered after 2.5 ms
        pc(4, dataMessage("1F", 100, 20, 0), "100.020000") +                   // S1 10 steps
        qmr(5, dataReply("44", "FF", "07", "02 00 00", "00"), "100.021000") + // buffer full
        pc(6, dataMessage("1F", 100, 20, -6), "100.030000") +                  // sent again, S2 -3 steps
        qmr(7, dataReply("44", "01", "06", "03 00 00", "00"), "100.031000") + // stored: a row
        pc(8, dataMessage("1E", 50, 8, 0), "100.040000") +                     //
        qmr(9, dataReply("44", "00", "06", "03 00 00", "00"), "100.042000") + // not in USB mode
        pc(10, "53 03", "100.050000") +                                        // Get status: no stop
        pc(11, "53 02", "100.060000");                                         // a Stop with an error: stops nothing, no reply
    const MessageColumns c = columnsOf(capture);

    ASSERT_EQ(c.number.size(), 11u);
    EXPECT_EQ(c.number[10], 11);
    EXPECT_DOUBLE_EQ(c.time[10], 0.06);
    EXPECT_EQ(c.from, (std::vector<std::uint8_t>{0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 0}));
    EXPECT_EQ(c.code[4], 0x44);
    EXPECT_EQ(c.marks, (std::vector<std::uint8_t>{kMarkNoReply, 0, 0, 0, kMarkRefusal, 0, 0, 0,
                                                  kMarkOtherStatus | kMarkRefused, kMarkNoReply,
                                                  kMarkErrors | kMarkNoReply}));
    EXPECT_EQ(c.cause[8], static_cast<std::uint8_t>(findings::Cause::NotUsbMode));
    EXPECT_EQ(c.cause[4], kNoCause);
    for (int i : {0, 1, 3, 5, 7, 9, 10}) EXPECT_TRUE(std::isnan(c.delay[i])) << i;
    EXPECT_DOUBLE_EQ(c.delay[2], 2.5);
    EXPECT_DOUBLE_EQ(c.delay[4], 1.0);
    EXPECT_DOUBLE_EQ(c.delay[8], 2.0);
    EXPECT_EQ(c.partner, (std::vector<std::int32_t>{-1, 2, 1, 4, 3, 6, 5, 8, 7, -1, -1}));
    EXPECT_EQ(c.buffer, (std::vector<std::int8_t>{-1, -1, -1, -1, 100, -1, 85, -1, 85, -1, -1}));
    EXPECT_EQ(c.segment, (std::vector<std::int32_t>{-1, -1, -1, -1, 2, -1, 3, -1, 3, -1, -1}));

    // One segment stored: the one of message 6 (index 5).
    EXPECT_EQ(c.rowMessage, (std::vector<std::int32_t>{5}));
    EXPECT_EQ(c.rowSteps, (std::vector<std::int32_t>{10, -3, 0}));
    EXPECT_EQ(c.rowPwm, (std::vector<std::int32_t>{-1}));
    EXPECT_EQ(c.rowSeg, (std::vector<std::int32_t>{3}));
    EXPECT_EQ(c.rowEnd, (std::vector<std::uint8_t>{0}));
}

TEST(MessageColumns, ACaptureWithoutTimesHasNoTimeAndNoDelay)
{
    const MessageColumns c = columnsOf(pc(1, "4D 02", "-") + qmr(2, "4D 01 3C", "-"));
    ASSERT_EQ(c.number.size(), 2u);
    EXPECT_TRUE(std::isnan(c.time[0]) && std::isnan(c.time[1]));
    EXPECT_TRUE(std::isnan(c.delay[1]));
    EXPECT_EQ(c.marks, (std::vector<std::uint8_t>{0, 0}));
}

// Refusals of one cause close together (that the findings give as one)
// are each marked with their cause: every one of them gets a marker.
TEST(MessageColumns, EveryRefusalIsMarkedWithItsCause)
{
    const std::string capture = pc(1, "54 00", "1.000") + qmr(2, "54 00 01", "1.001") + // a table write failed
                                pc(3, "54 00", "1.002") + qmr(4, "54 00 01", "1.003") + // and again
                                pc(5, "42 00", "1.004") + qmr(6, "42 00", "1.005") +    // Buffer Management refused
                                pc(7, "42 00", "1.006") + qmr(8, "42 FF", "1.007");     // accepted
    const MessageColumns c = columnsOf(capture);
    ASSERT_EQ(c.marks.size(), 8u);
    const auto cause = [](findings::Cause k) { return static_cast<std::uint8_t>(k); };
    EXPECT_EQ(c.cause, (std::vector<std::uint8_t>{kNoCause, cause(findings::Cause::TableWriteFailed), kNoCause,
                                                  cause(findings::Cause::TableWriteFailed), kNoCause,
                                                  cause(findings::Cause::CommandRefused), kNoCause, kNoCause}));
    for (std::size_t i = 0; i < c.marks.size(); ++i)
        EXPECT_EQ((c.marks[i] & kMarkRefused) != 0, c.cause[i] != kNoCause) << i;
}
