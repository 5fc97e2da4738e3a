// The stop detector: each STOP bit its own cause with where the tool got
// to; a stop by command without a Stop message; live, a long stop told
// while open and again, under the same id, once its bit falls.
#include <gtest/gtest.h>

#include "analysis/detectors/wire.h"

using namespace vornlog::testing::findings;

TEST(StopDetector, ByTheirBitWithThePositionReached)
{
    const std::pair<unsigned, Cause> bits[] = {{4, Cause::LimitSwitch}, {5, Cause::Sensor}, {6, Cause::Button}};
    for (const auto& [bit, cause] : bits) {
        Wire w = jobUnderWay();
        w.pass(3);
        w.trip(bit);
        w.information();
        w.information();
        w.clearStop();
        w.information();
        const auto found = findingsOf(w.text());
        ASSERT_EQ(kindsOf(found), (std::vector<std::pair<Kind, Cause>>{{Kind::Stop, cause}})) << texts(found);
        const Finding& f = found[0];
        EXPECT_EQ(f.last, f.first + 4); // until the block that shows the bit cleared
        ASSERT_TRUE(f.hasPosition);
        // 67 segments of 1 step stored; the last block before the stop
        // held 7 waiting and one under way, 300 of 500 pulses done; 3 ms
        // later, as the block that shows the stop tells, that one was done
        // and 100 pulses of the next.
        EXPECT_EQ(f.position[0] + f.storedUnreached[0], 67);
        EXPECT_EQ(f.position[0], 67 - 7);
    }

    Wire w = jobUnderWay();
    w.stop();
    w.information();
    const auto found = findingsOf(w.text());
    ASSERT_EQ(kindsOf(found), (std::vector<std::pair<Kind, Cause>>{{Kind::Stop, Cause::Command}})) << texts(found);
    EXPECT_TRUE(found[0].ongoing);
}

TEST(StopDetector, CommandWithoutStopMessageAndLiveWhileOpen)
{
    Wire w;
    w.trip(2);
    w.information();
    w.clearStop();
    w.information();
    const auto unasked = findingsOf(w.text());
    ASSERT_EQ(kindsOf(unasked), (std::vector<std::pair<Kind, Cause>>{{Kind::Stop, Cause::Command}}))
        << texts(unasked);
    EXPECT_NE(unasked[0].text.find("no Stop message was seen"), std::string::npos) << unasked[0].text;
    EXPECT_EQ(unasked[0].text.find("after the Stop message"), std::string::npos) << unasked[0].text;

    Wire open = jobUnderWay();
    open.trip(4);
    for (int k = 0; k < 30; ++k) {
        open.pass(50);
        open.information();
    }
    open.clearStop();
    open.information();
    const auto found = ofKind(findingsOf(open.text(), true), Kind::Stop);
    ASSERT_EQ(found.size(), 2u) << texts(found);
    EXPECT_TRUE(found[0].ongoing);
    EXPECT_FALSE(found[1].ongoing);
    EXPECT_EQ(found[0].id, found[1].id);
    EXPECT_GE(found[0].end - found[0].start, 1'000'000'000);
}
