// The underrun detector: each cause from its own stall, stand-stills less
// than 0.5 s apart as one finding, and no cause without times.
#include <gtest/gtest.h>

#include <cstdlib>

#include "analysis/detectors/wire.h"

using namespace vornlog::testing::findings;

TEST(UnderrunDetector, Causes)
{
    struct Case {
        const char* what;
        Cause cause;
        void (*stall)(Wire&);
    };
    const Case cases[] = {
        {"the PC program falls silent", Cause::HostGap, [](Wire& w) { w.pass(200); }},
        {"the PC program waits long after a refusal", Cause::Refusals,
         [](Wire& w) {
             while (w.data(500, 1)) w.pass(1);
             w.pass(200);
         }},
        {"the controller answers slowly", Cause::SlowReplies,
         [](Wire& w) {
             w.pass(6);
             w.data(500, 1, false, 200);
         }},
        {"the segments are shorter than a round trip", Cause::ShortSegments,
         [](Wire& w) { w.stream(30, 100, 2, 3); }},
    };
    for (const Case& c : cases) {
        Wire w = jobUnderWay();
        c.stall(w);
        w.stream(40, 500);
        w.finishJob();
        const auto found = findingsOf(w.text());
        if (std::getenv("DUMP_CAPTURE")) std::fputs(w.text().c_str(), stderr);
        std::size_t underruns = 0;
        for (const Finding& f : found) {
            if (f.kind != Kind::Underrun) continue;
            ++underruns;
            EXPECT_EQ(f.cause, c.cause) << c.what << "\n" << texts(found);
            EXPECT_FALSE(f.ongoing);
            EXPECT_LT(f.first, f.last);
            EXPECT_LE(f.start, f.end);
        }
        EXPECT_EQ(underruns, 1u) << c.what << "\n" << texts(found);
    }
}

TEST(UnderrunDetector, LessThanHalfASecondApartMakeOneAndNoTimesNoCause)
{
    Wire w = jobUnderWay();
    for (int k = 0; k < 3; ++k) {
        w.pass(100);
        w.stream(10, 500);
    }
    // Apart by more than 0.5 s of motion from the three before.
    w.stream(150, 500);
    w.pass(800);
    w.stream(10, 500);
    w.finishJob();
    const auto found = findingsOf(w.text());
    ASSERT_EQ(kindsOf(found), (std::vector<std::pair<Kind, Cause>>{{Kind::Underrun, Cause::HostGap},
                                                                   {Kind::Underrun, Cause::HostGap}}))
        << texts(found);
    EXPECT_EQ(found[0].count, 3u);
    EXPECT_EQ(found[1].count, 1u);
    EXPECT_EQ(found[0].id, 1u);
    EXPECT_EQ(found[1].id, 2u);

    Wire untimed = jobUnderWay(false);
    untimed.pass(200);
    untimed.stream(20, 500);
    untimed.finishJob();
    const auto unknown = findingsOf(untimed.text());
    ASSERT_EQ(kindsOf(unknown), (std::vector<std::pair<Kind, Cause>>{{Kind::Underrun, Cause::Unknown}}))
        << texts(unknown);
    EXPECT_FALSE(unknown[0].timed);
}
