// The refused detector: each kind of refusal its own cause; "buffer full"
// is none.
#include <gtest/gtest.h>

#include "analysis/detectors/wire.h"

using namespace vornlog::testing::findings;

TEST(RefusedDetector, EachRefusalItsCause)
{
    Wire w;
    w.exchange({0x54, 0x04, 0x01}, {0x54, 0x00, 0x01});
    w.exchange({0x42, 0x81}, {0x42, 0x00});
    w.dataReply(0x00);
    w.dataReply(0x02);
    for (int k = 0; k < 8; ++k) w.data(500, 1); // the 8th refused: buffer full
    const auto found = findingsOf(w.text());
    EXPECT_EQ(kindsOf(found), (std::vector<std::pair<Kind, Cause>>{
                                  {Kind::Refused, Cause::TableWriteFailed},
                                  {Kind::Refused, Cause::CommandRefused},
                                  {Kind::Refused, Cause::NotUsbMode},
                                  {Kind::Refused, Cause::UnknownStatus},
                              }))
        << texts(found);
}
