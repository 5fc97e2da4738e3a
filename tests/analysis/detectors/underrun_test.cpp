// The underrun detector: each cause from its own stall, stand-stills less
// than 0.5 s apart as one finding, and no cause without times.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

// A controller that leaves SEG at the last segment it ran when its buffer
// runs dry: the reply to the segment that ends the silence shows the
// machine still and STOP bit 7 turned to 1. The finished file and a live
// run tell the same stand-still.
TEST(UnderrunDetector, DryByStopBitWhereSegStaysAtTheLastSegmentRun)
{
    std::string text;
    int line = 0;
    double t = 0;
    int seg = 0;
    auto put = [&](bool pc, const char* bytes, int count) {
        char head[64];
        std::snprintf(head, sizeof head, "%d\t%s\t%.6f\t%d\t", ++line, pc ? "OUT" : "IN", t, count);
        text += head;
        text += bytes;
        text += "\t.\n";
    };
    auto segment = [&](bool dry) {
        put(true, "44 1F F4 01 00 00 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", 26);
        t += 0.001;
        char reply[64];
        ++seg;
        std::snprintf(reply, sizeof reply, "44 01 %02X %02X 00 00 %s 00 00 00 04 %s 00 00", dry ? 1 : 1 + seg % 2,
                      (dry ? seg - 1 : seg) & 0xFF, dry ? "48" : "49", dry ? "80 00 00" : "00 2C 01");
        put(false, reply, 16);
        t += 0.003;
    };
    for (int k = 0; k < 300; ++k) segment(false);
    t += 3.0;
    segment(true);
    for (int k = 0; k < 300; ++k) segment(false);

    const auto file = ofKind(findingsOf(text), Kind::Underrun);
    ASSERT_EQ(file.size(), 1u) << texts(findingsOf(text));
    EXPECT_EQ(file[0].cause, Cause::HostGap);
    // From the last segment's end to the PC's next segment, in nanoseconds.
    EXPECT_TRUE(file[0].timed);
    EXPECT_NEAR(static_cast<double>(file[0].end), 4.2e9, 2e6);
    EXPECT_GT(file[0].end - file[0].start, 2'900'000'000);
    std::vector<Finding> live;
    for (const Finding& f : ofKind(findingsOf(text, true), Kind::Underrun))
        if (!f.ongoing) live.push_back(f);
    ASSERT_EQ(live.size(), 1u);
    EXPECT_EQ(live[0].start, file[0].start);
    EXPECT_EQ(live[0].end, file[0].end);
}
