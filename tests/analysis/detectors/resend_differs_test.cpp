// The resend-differs detector: after "buffer full", a next Data message
// that is another segment than the one refused; the same one sent again is
// none.
#include <gtest/gtest.h>

#include "analysis/detectors/wire.h"

using namespace vornlog::testing::findings;

TEST(ResendDiffersDetector, AnotherSegmentAfterARefusal)
{
    Wire w;
    for (int k = 0; k < 8; ++k) w.data(500, 1); // the 8th refused: buffer full
    w.data(500, 1);                             // the same one again: none
    w.data(500, 2);                             // another one
    const auto found = findingsOf(w.text());
    ASSERT_EQ(kindsOf(found), (std::vector<std::pair<Kind, Cause>>{{Kind::ResendDiffers, Cause::SegmentChanged}}))
        << texts(found);
    EXPECT_EQ(found[0].first, 17u); // the 9th Data message, refused just before the change
}
