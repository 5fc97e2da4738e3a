// The sample session that ships in examples/, decoded by the built program
// and compared whole with its report and steps CSV as checked by hand.
#include <gtest/gtest.h>

#include "harness.h"

using e2e::readFile;
using e2e::Sandbox;

namespace {

const std::string kSource = VORNLOG_SOURCE_DIR;

std::string golden(const std::string& name) { return readFile(kSource + "/tests/e2e/golden/" + name); }

} // namespace

TEST(SampleSession, ReportMatchesTheCheckedReport)
{
    Sandbox box;
    box.write("session.txt", readFile(kSource + "/examples/session.txt"));
    const auto r = box.run({"-v", "session.txt", "session-report.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(box.read("session-report.txt"), golden("session.report.txt"));
}

TEST(SampleSession, StepsCsvMatchesTheCheckedCsv)
{
    Sandbox box;
    box.write("session.txt", readFile(kSource + "/examples/session.txt"));
    const auto r = box.run({"-s", "session.txt", "session-steps.csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(box.read("session-steps.csv"), golden("session.steps.csv"));
}

TEST(SampleSession, UnixLineEndsGiveTheSameReport)
{
    std::string capture = readFile(kSource + "/examples/session.txt");
    std::string unix;
    for (char c : capture)
        if (c != '\r') unix += c;
    ASSERT_NE(unix.size(), capture.size());
    Sandbox box;
    box.write("session.txt", unix);
    ASSERT_EQ(box.run({"session.txt", "report.txt"}).status, 0);
    EXPECT_EQ(box.read("report.txt"), golden("session.report.txt"));
}

TEST(SampleSession, SummaryMatchesTheCheckedSummaryAndOpensInTheTextViewer)
{
    Sandbox box;
    box.write("session.txt", readFile(kSource + "/examples/session.txt"));
    const auto r = box.run({"-s", "-t", "session.txt", "session-summary.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(box.read("session-summary.txt"), golden("session.summary.txt"));
    const auto calls = box.viewerCalls(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], std::vector<std::string>{box.path("session-summary.txt")});
}

TEST(SampleSession, JsonLinesMatchTheCheckedLinesWhereverTheyGoAndOpenInTheTextViewer)
{
    Sandbox box;
    box.write("session.txt", readFile(kSource + "/examples/session.txt"));
    // The last mode given counts, as with the other modes.
    const auto r = box.run({"-t", "-j", "session.txt", "session.jsonl"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.out.ends_with("\rAnalyzing line: 73\n\nDone")) << r.out;
    EXPECT_EQ(box.read("session.jsonl"), golden("session.jsonl"));
    const auto calls = box.viewerCalls(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], std::vector<std::string>{box.path("session.jsonl")});

    e2e::Redirect io;
    io.pipeInput = true;
    io.input = readFile(kSource + "/examples/session.txt");
    const auto piped = box.run({"-jsonl", "-", "-"}, io);
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, golden("session.jsonl"));
}
