// Every message reaches the analyses, and the findings made of them: the
// short lines in the JSON Lines and the summary; -e, its exit status with
// --fail-on, and a finding that shows while a followed capture is still
// open. Time limits are generous: only "shows before the rest comes" is
// checked, never how soon.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

using e2e::eventually;
using e2e::readFile;
using e2e::Result;
using e2e::Running;
using e2e::Sandbox;

namespace {

const std::string kSource = VORNLOG_SOURCE_DIR;
constexpr int kPatienceMs = 20000;

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

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

// The example with a stall story: two underruns (the PC program silent,
// then backing off after "buffer full") and a limit switch stop.
TEST(FindingLines, EachFindingOnceInTheOrderTheyAreCompleteWithTheExitStatusOfFailOn)
{
    Sandbox box;
    box.write("stall.txt", readFile(kSource + "/examples/stall.txt"));
    Result r = box.run({"-n", "-q", "-e", "--fail-on=stop", "stall.txt", "findings.jsonl"});
    EXPECT_EQ(r.status, 3) << r.err;
    const std::vector<std::string> lines = linesOf(box.read("findings.jsonl"));
    ASSERT_EQ(lines.size(), 3u) << box.read("findings.jsonl");
    EXPECT_EQ(lines[0].rfind("{\"id\":1,\"kind\":\"underrun\",\"cause\":\"host-gap\",\"start\":0.453000,", 0), 0u)
        << lines[0];
    EXPECT_NE(lines[0].find("\"ongoing\":false,\"first\":342,\"last\":368,\"count\":2,"), std::string::npos);
    EXPECT_EQ(lines[1].rfind("{\"id\":2,\"kind\":\"underrun\",\"cause\":\"refusals\",", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("{\"id\":3,\"kind\":\"stop\",\"cause\":\"limit-switch\",", 0), 0u) << lines[2];
    EXPECT_NE(lines[2].find(",\"position\":{\"S1\":604,\"S2\":0,\"S3\":0,\"S4\":0,\"S5\":0},"
                            "\"stored_unreached\":{\"S1\":14,"),
              std::string::npos)
        << lines[2];

    // -i leaves the findings as they are; any mode makes them for --fail-on.
    EXPECT_EQ(box.run({"-n", "-q", "-e", "-i", "V", "stall.txt", "kept.jsonl"}).status, 0);
    EXPECT_EQ(box.read("kept.jsonl"), box.read("findings.jsonl"));
    EXPECT_EQ(box.run({"-n", "-q", "-s", "--fail-on=underrun,slow-reply", "stall.txt", "steps.csv"}).status, 3);
    EXPECT_EQ(box.run({"-n", "-q", "--fail-on=any", "stall.txt", "report.txt"}).status, 3);
    EXPECT_EQ(box.run({"-n", "-q", "-t", "--fail-on=no-reply,refused", "stall.txt", "summary.txt"}).status, 0);
    for (const char* wrong : {"--fail-on", "--fail-on=", "--fail-on=stall", "--fail-on=stop,", "--fail-onstop"}) {
        r = box.run({wrong, "stall.txt", "out.txt"});
        EXPECT_EQ(r.status, 1) << wrong;
        EXPECT_NE(r.out.find("Usage:"), std::string::npos) << wrong;
    }
}

TEST(FindingLines, AFollowedCaptureShowsAStopWhileItLastsThenOnceMoreWhenItEnds)
{
    const std::string stall = readFile(kSource + "/examples/stall.txt");
    // Up to the status block that shows the limit switch.
    const std::size_t cut = stall.find("\n", stall.find("\n1162\t")+1) + 1;
    Sandbox box;
    box.write("capture.txt", stall.substr(0, cut));
    Running run = box.start({"-n", "-e", "-f", "--fail-on=stop", "capture.txt", "findings.jsonl"});
    EXPECT_TRUE(eventually([&] { return box.read("findings.jsonl").find("\"kind\":\"stop\"") != std::string::npos; },
                           kPatienceMs));
    const std::vector<std::string> open = linesOf(box.read("findings.jsonl"));
    ASSERT_EQ(open.size(), 3u);
    EXPECT_NE(open[2].find("\"id\":3,\"kind\":\"stop\",\"cause\":\"limit-switch\""), std::string::npos);
    EXPECT_NE(open[2].find("\"ongoing\":true,\"first\":1162,\"last\":1162,"), std::string::npos) << open[2];

    std::ofstream(box.path("capture.txt"), std::ios::binary | std::ios::app) << stall.substr(cut);
    EXPECT_TRUE(eventually([&] { return linesOf(box.read("findings.jsonl")).size() == 4; }, kPatienceMs));
    run.signal(SIGINT);
    const Result r = run.wait();
    EXPECT_EQ(r.status, 3) << r.err;
    const std::vector<std::string> lines = linesOf(box.read("findings.jsonl"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[3].find("\"id\":3,\"kind\":\"stop\""), std::string::npos) << lines[3];
    EXPECT_NE(lines[3].find("\"ongoing\":false,\"first\":1162,\"last\":1172,"), std::string::npos) << lines[3];
}
