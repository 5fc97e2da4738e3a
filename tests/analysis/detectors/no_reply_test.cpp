// The no-reply detector: a PC message with no reply before the next one;
// never a Reset (the controller does not answer it), nor the capture's last
// PC message; unanswered messages less than 0.5 s apart as one finding.
#include <gtest/gtest.h>

#include "analysis/detectors/wire.h"

using namespace vornlog::testing::findings;

TEST(NoReplyDetector, UnansweredButNotResetNorTheLast)
{
    Wire w;
    w.exchange({0x4D, 0x02}, {});             // no reply
    w.exchange({0x5A, 0x55, 0xAA, 0x00}, {}); // a Reset is never answered
    w.exchange({0x4D, 0x02}, {0x4D, 0x01, 0x00});
    w.pass(600);
    w.exchange({0x47, 0x02}, {}); // the capture's last PC message
    const auto found = findingsOf(w.text());
    ASSERT_EQ(kindsOf(found), (std::vector<std::pair<Kind, Cause>>{{Kind::NoReply, Cause::Timeout}})) << texts(found);
    EXPECT_EQ(found[0].first, 1u);
}
