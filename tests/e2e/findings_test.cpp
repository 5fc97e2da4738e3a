// Every message reaches the analyses, and the findings made of them: the
// short lines in the JSON Lines and the summary.
#include <gtest/gtest.h>

#include "harness.h"

using e2e::Sandbox;

namespace {

// A Version request and an Information request on lines of 40 characters
// or fewer, each answered on a long line.
const std::string kShortRequests = "1\tOUT\t00:00:01.000\t1\t56\n"
                                   "2\tIN\t00:00:01.004\t8\t56 31 2E 30 35 20 20 20\tV1.05   \n"
                                   "3\tOUT\t00:00:01.010\t1\t49\n"
                                   "4\tIN\t00:00:01.014\t16\t49 00 03 00 00 00 09 00 00 00 00 00 00 00 00 00\t\n"
                                   "5\tout\t00:00:01.020\t1\t49\n"
                                   "6\tOUT\t00:00:01.030\t0\t\n";

} // namespace

TEST(ShortLines, ReachTheJsonLinesAndTheSummaryButNotTheReport)
{
    Sandbox box;
    box.write("short.txt", kShortRequests);
    ASSERT_EQ(box.run({"-n", "-q", "-j", "short.txt", "short.jsonl"}).status, 0);
    const std::string json = box.read("short.jsonl");
    EXPECT_NE(json.find("{\"number\":1,\"from\":\"PC\",\"time\":null,\"t\":0.000,\"report\":false,\"bytes\":\"56\""),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("{\"number\":3,\"from\":\"PC\",\"time\":null,\"t\":0.010,\"report\":false,\"bytes\":\"49\""),
              std::string::npos);
    // The replies (long lines) carry no key; "out" and an empty field are
    // no messages.
    EXPECT_EQ(json.find("\"number\":2,\"from\":\"QMR5V\",\"time\":null,\"t\":0.004,\"bytes\""), json.find("\"number\":2"));
    EXPECT_EQ(json.find("\"number\":5"), std::string::npos);
    EXPECT_EQ(json.find("\"number\":6"), std::string::npos);

    ASSERT_EQ(box.run({"-n", "-q", "-t", "short.txt", "short-summary.txt"}).status, 0);
    const std::string summary = box.read("short-summary.txt");
    EXPECT_NE(summary.find("  Messages decoded                                 4\n"
                           "    on lines of 40 characters or fewer             2  lines 1, 3\n"),
              std::string::npos)
        << summary;
    // The requests are answered: nothing without a reply.
    EXPECT_NE(summary.find("  Total                                     2        2          0                0\n"),
              std::string::npos)
        << summary;

    ASSERT_EQ(box.run({"-n", "-q", "short.txt", "short-report.txt"}).status, 0);
    EXPECT_EQ(box.read("short-report.txt").find("PC     :"), std::string::npos);
}
