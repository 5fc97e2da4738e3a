// The findings engine on captures made by a small simulation of the
// controller's segment buffer (each kind's cases are beside its detector,
// in detectors/): a clean job with many "buffer full" refusals that must
// give none, findings of several detectors numbered as reported, the
// clock going back, and the position kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/detectors/wire.h"
#include "analysis/segments.h"

using namespace vornlog::testing::findings;


TEST(Findings, CleanJobWithManyBufferFullRefusalsHasNone)
{
    Wire w = jobUnderWay();
    w.stream(200, 500);
    w.finishJob();
    EXPECT_GT(w.refusals(), 100);
    const auto found = findingsOf(w.text());
    EXPECT_TRUE(found.empty()) << texts(found);
}

// A block after a buffer reset that still claims the segments from before
// it (BUF 7 with 2 stored since) must not take the estimate back past where
// the reset left the tool: nothing ran, so nothing was reached.
TEST(Findings, PositionAfterAResetIsBoundedByWhatWasStoredSince)
{
    Wire w;
    w.exchange({0x42, 0x00}, {0x42, 0xFF});
    w.stream(5, 500);
    w.information();
    w.exchange({0x42, 0x00}, {0x42, 0xFF}); // the PC resets; the simulated buffer keeps its 5
    w.stream(2, 500);
    w.information();
    vornlog::findings::Engine engine(true, false, [](const Finding&) {});
    feedAll(engine, w.text());
    const auto position = engine.position();
    ASSERT_TRUE(position.known);
    EXPECT_EQ(position.stored[0], 7);
    EXPECT_EQ(position.reached[0], 0);
}

// Episodes of one kind and cause less than 0.5 s apart make one finding;
// findings are numbered in the order they are reported, complete.
TEST(Findings, BurstsOfOneKindAndCauseMakeOneFindingNumberedAsReported)
{
    Wire w;
    for (int k = 0; k < 3; ++k) {
        w.exchange({0x4D, 0x02}, {}); // unanswered, 0.1 s apart
        w.pass(100);
    }
    w.exchange({0x4D, 0x02}, {0x4D, 0x01, 0x00});
    w.pass(700);
    w.exchange({0x4D, 0x02}, {});
    // A limit switch twice, 0.2 s apart; then a stop by command that no
    // Stop message asked for.
    for (int k = 0; k < 2; ++k) {
        w.trip(4);
        w.information();
        w.clearStop();
        w.information();
        w.pass(200);
    }
    w.pass(500);
    w.trip(2);
    w.information();
    w.clearStop();
    w.information();
    const auto found = findingsOf(w.text());
    ASSERT_EQ(kindsOf(found), (std::vector<std::pair<Kind, Cause>>{{Kind::NoReply, Cause::Timeout},
                                                                 {Kind::NoReply, Cause::Timeout},
                                                                 {Kind::Stop, Cause::LimitSwitch},
                                                                 {Kind::Stop, Cause::Command}}))
        << texts(found);
    std::vector<std::uint64_t> counts, ids;
    for (const Finding& f : found) {
        counts.push_back(f.count);
        ids.push_back(f.id);
    }
    EXPECT_EQ(counts, (std::vector<std::uint64_t>{3, 1, 2, 1})) << texts(found);
    EXPECT_EQ(ids, (std::vector<std::uint64_t>{1, 2, 3, 4}));
}

// Lines whose dates go back: no duration, negative or other, is told.
TEST(Findings, AClockThatGoesBackGivesNoDuration)
{
    const std::string pad = "\t........................................\n";
    const std::string capture = "1\tOUT\t2026-11-30 10:00:01.000\t2\t4D 02" + pad +
                                "2\tOUT\t2026-11-30 10:00:00.000\t2\t4D 02" + pad +
                                "3\tIN\t2026-11-30 10:00:00.001\t3\t4D 01 00" + pad;
    const auto found = findingsOf(capture);
    ASSERT_EQ(found.size(), 1u) << texts(found);
    EXPECT_TRUE(found[0].clockWentBack);
    EXPECT_EQ(found[0].text.find("later"), std::string::npos) << found[0].text;
    EXPECT_NE(found[0].text.find("clock went back"), std::string::npos) << found[0].text;
}

// The Data text kept to tell a segment sent again: copied in pieces, so
// every length around the pieces' edges must keep exactly its bytes and
// tell a text that differs in its last byte.
TEST(Findings, DataTextKeepsEveryLengthExactly)
{
    std::string line;
    for (int k = 0; k < 300; ++k) line += static_cast<char>('a' + k % 26);
    for (std::size_t n : {0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 255, 256, 257, 300}) {
        vornlog::motion::DataText kept;
        kept.keep(std::string_view(line).substr(0, n));
        EXPECT_EQ(kept.size, n);
        const std::size_t stored = std::min<std::size_t>(n, vornlog::motion::DataText::kKept);
        EXPECT_EQ(std::string_view(kept.text.data(), stored), std::string_view(line).substr(0, stored)) << n;
        if (!n || n > vornlog::motion::DataText::kKept) continue;
        std::string other = line.substr(0, n);
        other.back() = '#';
        vornlog::motion::DataText changed;
        changed.keep(other);
        EXPECT_FALSE(kept == changed) << n;
    }
}
