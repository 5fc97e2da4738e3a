// The picture's model of the motion: the merged tool path, the bounded
// lower panels and names made safe for XML. How it looks is checked by
// rendering it (tests/e2e/picture_test.cpp).
#include <gtest/gtest.h>

#include <string>

#include "output/picture.h"

namespace vornlog::motion {
namespace {

struct Point {
    std::int64_t x, y;
    int pwm;
    bool operator==(const Point&) const = default;
};

std::vector<Point> points(const PlanPath& path)
{
    std::vector<Point> p;
    for (const PlanPath::Vertex& v : path.vertices()) p.push_back({v.x, v.y, v.pwm});
    return p;
}

TEST(PicturePath, SegmentsGoingOnInTheSameDirectionWithTheSamePwmBecomeOneLine)
{
    PlanPath path;
    path.add(10, 5, 0);
    path.add(20, 10, 0);   // the same direction, longer: merged
    path.add(0, 0, 128);   // moves neither S1 nor S2: nothing drawn
    path.add(2, 1, 0);     // still the same direction and PWM: merged
    path.add(-4, -2, 0);   // back along the same line: a new line
    path.add(-4, -2, 200); // another PWM: a new line
    path.add(3, 0, 200);
    path.add(3, 1, 200); // a slight turn: a new line
    EXPECT_EQ(points(path), (std::vector<Point>{
                                {0, 0, 0}, {32, 16, 0}, {28, 14, 0}, {24, 12, 200}, {27, 12, 200}, {30, 13, 200}}));
}

TEST(PicturePath, TheLargestStepsStillCompareExactly)
{
    // Steps of 2^30 - 1 and 2^30 - 2 are nearly parallel, not parallel.
    PlanPath path;
    path.add(1073741823, 1073741822, 0);
    path.add(1073741822, 1073741821, 0);
    path.add(-1073741824, -1073741824, 0);
    path.add(-1073741824, -1073741824, 0);
    EXPECT_EQ(path.vertices().size(), 4u);
    EXPECT_EQ(path.vertices().back().x, 1073741823 + 1073741822 - 2 * 1073741824LL);
}

TEST(PictureEnvelope, KeepsEveryValueWhileItFitsThenStaysBounded)
{
    Envelope small;
    for (int x = 0; x < 1000; ++x) small.add(x, x % 7);
    EXPECT_EQ(small.width(), 1);
    for (int x = 0; x < 1000; ++x) {
        const Envelope::Bucket& b = small.buckets()[x];
        ASSERT_TRUE(b.used && b.xFirst == x && b.first == x % 7 && b.min == x % 7 && b.max == x % 7);
    }

    // A million segment numbers, a spike at one of them: the buckets cover
    // them all, and the spike and the last value survive the merging.
    Envelope big;
    for (std::int64_t x = 0; x < 1000000; ++x) big.add(x, x == 654321 ? 500 : 50 + x % 3);
    EXPECT_GE(big.width() * static_cast<std::int64_t>(Envelope::kBuckets), 1000000);
    std::int64_t highest = 0, covered = 0;
    const Envelope::Bucket* last = nullptr;
    for (const Envelope::Bucket& b : big.buckets())
        if (b.used) {
            highest = std::max(highest, b.max);
            covered += b.xLast - b.xFirst + 1;
            last = &b;
        }
    EXPECT_EQ(highest, 500);
    EXPECT_EQ(covered, 1000000);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->xLast, 999999);
    EXPECT_EQ(last->last, 50 + 999999 % 3);
    EXPECT_EQ(big.max(), 500);
}

// A stored segment as StoredSegments hands it on: signed steps.
StoredSegment stored(unsigned cmd, std::int32_t s1, std::int32_t s2, std::int32_t s3, int pwm, int buf)
{
    StoredSegment s;
    s.segment.cmd = cmd;
    s.segment.steps[0] = s1;
    s.segment.steps[1] = s2;
    s.segment.steps[2] = s3;
    s.segment.pwm = pwm;
    s.buf = buf;
    return s;
}

TEST(PictureMotion, ASegmentWithoutPwmKeepsThePwmLastGiven)
{
    MotionPicture picture;
    picture.add(DataEvent::Stored, stored(0x1F, 10, 0, 0, 99, 1));  // no PWM yet: 0, whatever the byte held
    picture.add(DataEvent::Stored, stored(0x5F, 0, 10, 0, 200, 2)); // PWM 200
    picture.add(DataEvent::BufferFull, stored(0, 0, 0, 0, 0, 7));
    picture.add(DataEvent::Stored, stored(0x1F, -10, 0, 5, 0, 3));  // keeps 200
    picture.add(DataEvent::Stored, stored(0x80, 0, 0, 0, 0, 3));    // end of data: a row, no movement
    picture.add(DataEvent::Stored, stored(0x5F, 0, -10, 0, 0, 1));  // PWM 0 given: travel again
    EXPECT_EQ(points(picture.path()),
              (std::vector<Point>{{0, 0, 0}, {10, 0, 0}, {10, 10, 200}, {0, 10, 200}, {0, 0, 0}}));
    EXPECT_EQ(picture.rows(), 5);
    EXPECT_EQ(picture.segments(), 4);
}

TEST(PictureText, NamesAreMadeSafeForXml)
{
    EXPECT_EQ(xmlText("a&b<c>.txt"), "a&amp;b&lt;c&gt;.txt");
    EXPECT_EQ(xmlText("it's \"job\""), "it&apos;s &quot;job&quot;");
    EXPECT_EQ(xmlText("Donn\xC3\xA9" "es \xF0\x9F\x94\xA7.txt"), "Donn\xC3\xA9" "es \xF0\x9F\x94\xA7.txt");
    const std::string bad = "\xEF\xBF\xBD";
    // A lone byte of Latin-1, a cut sequence, an overlong form, a
    // surrogate, a control character.
    EXPECT_EQ(xmlText("caf\xE9.txt"), "caf" + bad + ".txt");
    EXPECT_EQ(xmlText("x\xE2\x82"), "x" + bad + bad);
    EXPECT_EQ(xmlText("\xC0\xAF"), bad + bad);
    EXPECT_EQ(xmlText("\xED\xA0\x80"), bad + bad + bad);
    EXPECT_EQ(xmlText(std::string("a\x01\0b", 4)), "a" + bad + bad + "b");
}

} // namespace
} // namespace vornlog::motion
