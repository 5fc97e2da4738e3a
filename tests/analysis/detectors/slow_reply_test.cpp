// The slow-reply detector: replies ten times their instruction's median,
// once it rests on enough replies, grouped while less than 0.5 s apart.
#include <gtest/gtest.h>

#include "analysis/detectors/wire.h"

using namespace vornlog::testing::findings;

TEST(SlowReplyDetector, SlowRepliesOfOneBurstMakeOneFinding)
{
    Wire w = jobUnderWay();
    for (int k = 0; k < 10; ++k) w.exchange({0x4D, 0x02}, {0x4D, 0x01, 0x00}, 1);
    for (int k = 0; k < 3; ++k) w.exchange({0x4D, 0x02}, {0x4D, 0x01, 0x00}, 120);
    const auto found = findingsOf(w.text());
    ASSERT_EQ(kindsOf(found), (std::vector<std::pair<Kind, Cause>>{{Kind::SlowReply, Cause::ControllerDelay}}))
        << texts(found);
    EXPECT_EQ(found[0].count, 3u);
}
