// The picture of the motion (-p) as a person sees it: the built program
// writes the SVG, rsvg-convert renders it, and the test reads the pixels.
// xmllint checks that every picture is well-formed XML.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness.h"

using e2e::readFile;
using e2e::Sandbox;

namespace {

const std::string kSource = VORNLOG_SOURCE_DIR;

// Where the picture puts its parts, in pixels of the 1000-wide rendering:
// the inside of the plan view's frame, and the buffer panel.
constexpr int kPlanLeft = 85, kPlanRight = 715, kPlanTop = 75, kPlanBottom = 585;
constexpr int kPanelLeft = 80, kPanelWidth = 880, kBufferTop = 850, kBufferBottom = 970;

// Runs a tool with these arguments (no shell); its exit status.
int tool(const std::vector<std::string>& args)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Rgb {
    int r, g, b;
};

// A rendered picture, read from the PPM that ImageMagick makes of the PNG.
class Image {
public:
    Image(const Sandbox& box, const std::string& svg)
    {
        const std::string png = box.path(svg + ".png"), ppm = box.path(svg + ".ppm");
        EXPECT_EQ(tool({"rsvg-convert", "-o", png, box.path(svg)}), 0) << "rsvg-convert " << svg;
        EXPECT_EQ(tool({"convert", png, "-alpha", "off", "ppm:" + ppm}), 0) << "convert " << svg;
        const std::string data = readFile(ppm);
        int maxValue = 0, used = 0;
        if (std::sscanf(data.c_str(), "P6 %d %d %d%n", &width_, &height_, &maxValue, &used) != 3 || maxValue != 255)
            return;
        pixels_ = data.substr(static_cast<std::size_t>(used) + 1);
        if (pixels_.size() != static_cast<std::size_t>(width_) * height_ * 3) width_ = height_ = 0;
    }

    int width() const { return width_; }
    int height() const { return height_; }
    Rgb at(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return {255, 255, 255};
        const auto* p = reinterpret_cast<const unsigned char*>(pixels_.data()) + (std::size_t(y) * width_ + x) * 3;
        return {p[0], p[1], p[2]};
    }
    bool ink(int x, int y) const
    {
        const Rgb c = at(x, y);
        return c.r < 220 || c.g < 220 || c.b < 220;
    }
    // Whether any pixel of the rectangle is of this kind.
    template <class Test>
    bool any(int x0, int y0, int x1, int y1, Test test) const
    {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                if (test(at(x, y))) return true;
        return false;
    }

private:
    int width_ = 0, height_ = 0;
    std::string pixels_;
};

bool grey(Rgb c) { return std::abs(c.r - c.g) < 12 && std::abs(c.g - c.b) < 12 && c.r < 200; }
bool near(Rgb c, Rgb want) { return std::abs(c.r - want.r) < 40 && std::abs(c.g - want.g) < 40 && std::abs(c.b - want.b) < 40; }
// The colour of work at 91-100 % PWM, and the buffer line's blue.
constexpr Rgb kFullPwm{0xe8, 0xc0, 0x00};
bool bufferBlue(Rgb c) { return c.b > c.r + 60; }

// A capture line of the PC or the controller.
std::string capture(bool pc, const std::vector<std::uint8_t>& bytes)
{
    static const char* digits = "0123456789ABCDEF";
    std::string line = pc ? "1\tOUT\t00:00:01.000\t33\t" : "2\tIN\t00:00:01.004\t16\t";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i) line += ' ';
        line += digits[bytes[i] >> 4];
        line += digits[bytes[i] & 15];
    }
    return line + "\r\n";
}

void put32(std::vector<std::uint8_t>& m, std::int32_t v)
{
    for (int k = 0; k < 4; ++k) m.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * k)));
}

// A Data message moving S1, S2 and S3 by these signed steps, with a PWM
// byte when pwm >= 0; the direction bits carry the signs.
std::string data(std::int32_t s1, std::int32_t s2, std::int32_t s3 = 0, int pwm = -1)
{
    std::uint8_t cmd = 0x18 | (s1 >= 0 ? 1 : 0) | (s2 >= 0 ? 2 : 0) | (s3 >= 0 ? 4 : 0);
    if (pwm >= 0) cmd |= 0x40;
    std::vector<std::uint8_t> m{0x44, cmd};
    put32(m, 1000);
    for (std::int32_t s : {s1, s2, s3, 0, 0}) put32(m, 2 * std::abs(s));
    if (pwm >= 0) m.push_back(static_cast<std::uint8_t>(pwm));
    return capture(true, m);
}

std::string reply(std::uint8_t st, int buf, int seg)
{
    return capture(false, {0x44, st, static_cast<std::uint8_t>(buf), static_cast<std::uint8_t>(seg), 0, 0, 0x49, 0x2B,
                           0xC0, 0, 4, 0, 0, 0, 0, 0});
}
std::string stored(int buf, int seg) { return reply(0x01, buf, seg); }

// The picture of a capture, written by vornlog -p and checked by xmllint.
void picture(const Sandbox& box, const std::string& captureText, const std::string& svg,
             const std::string& dumpName = "job.txt")
{
    box.write(dumpName, captureText);
    const e2e::Result r = box.run({"-p", dumpName, svg});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(tool({"xmllint", "--noout", box.path(svg)}), 0) << box.read(svg);
}

// A square of 1000 steps: travel along S1, then work at full PWM up S2,
// back along S1 and down S2 with the PWM kept.
std::string squareJob(int flipS1)
{
    return data(flipS1 * 1000, 0) + stored(1, 1) + data(0, 1000, 0, 255) + stored(2, 2) + data(flipS1 * -1000, 0) +
           stored(3, 3) + data(0, -1000) + stored(3, 4);
}

// The bounding box of the ink inside the plan view's frame.
struct Box {
    int x0 = 100000, y0 = 100000, x1 = -1, y1 = -1;
};
Box inkBox(const Image& image)
{
    Box b;
    for (int y = kPlanTop; y <= kPlanBottom; ++y)
        for (int x = kPlanLeft; x <= kPlanRight; ++x)
            if (image.ink(x, y)) {
                b.x0 = std::min(b.x0, x), b.x1 = std::max(b.x1, x);
                b.y0 = std::min(b.y0, y), b.y1 = std::max(b.y1, y);
            }
    return b;
}

} // namespace

TEST(Picture, ASquareJobIsDrawnAsASquareTravelGreyWorkInItsColour)
{
    Sandbox box;
    picture(box, squareJob(1), "square.svg");
    const Image image(box, "square.svg");
    ASSERT_EQ(image.width(), 1000);
    const Box b = inkBox(image);
    const int w = b.x1 - b.x0, h = b.y1 - b.y0;
    ASSERT_GT(w, 300);
    EXPECT_NEAR(w, h, 3) << "one scale for both axes";

    // Ink along the four sides (a band of 12 pixels takes the strokes and
    // the marks), none in the middle.
    for (int i = 1; i < 20; ++i) {
        const int x = b.x0 + w * i / 20, y = b.y0 + h * i / 20;
        EXPECT_TRUE(image.any(x - 5, b.y1 - 12, x + 5, b.y1, grey)) << "travel along the bottom at x " << x;
        EXPECT_TRUE(image.any(b.x1 - 12, y, b.x1, y, [](Rgb c) { return near(c, kFullPwm); })) << "right side, y " << y;
        EXPECT_TRUE(image.any(x, b.y0, x, b.y0 + 12, [](Rgb c) { return near(c, kFullPwm); })) << "top side, x " << x;
        EXPECT_TRUE(image.any(b.x0, y, b.x0 + 12, y, [](Rgb c) { return near(c, kFullPwm); })) << "left side, y " << y;
    }
    EXPECT_FALSE(image.any(b.x0 + w / 10 + 12, b.y1 - 12, b.x1 - w / 10 - 12, b.y1,
                           [](Rgb c) { return near(c, kFullPwm); }))
        << "the travel side has no work colour";
    EXPECT_FALSE(image.any(b.x0 + 15, b.y0 + 15, b.x1 - 15, b.y1 - 15, [](Rgb c) { return c.r < 220 || c.g < 220 || c.b < 220; }))
        << "nothing in the middle";

    const std::string svg = box.read("square.svg");
    EXPECT_NE(svg.find("job.txt: 4 segments stored"), std::string::npos);
    EXPECT_NE(svg.find("S1 from 0 to 1000 steps, S2 from 0 to 1000 steps, S3 from 0 to 0 steps"), std::string::npos);
}

TEST(Picture, ReversingS1GivesTheMirrorImage)
{
    // A job with no symmetry of its own: a travel, a climb, a diagonal.
    auto job = [](int flip) {
        return data(flip * 900, 0) + stored(1, 1) + data(0, 400, 0, 255) + stored(1, 2) + data(flip * -600, 500) +
               stored(1, 3);
    };
    Sandbox box;
    picture(box, job(1), "right.svg");
    picture(box, job(-1), "left.svg");
    const Image right(box, "right.svg"), left(box, "left.svg");
    // The plan view is centred on x = 400: pixel x mirrors to 799 - x.
    auto differences = [&](const Image& a, const Image& b, bool mirrored) {
        int differ = 0, inked = 0;
        for (int y = kPlanTop; y <= kPlanBottom; ++y)
            for (int x = kPlanLeft; x <= kPlanRight; ++x) {
                const bool p = a.ink(x, y), q = b.ink(mirrored ? 799 - x : x, y);
                inked += p;
                differ += p != q;
            }
        return static_cast<double>(differ) / std::max(inked, 1);
    };
    EXPECT_LT(differences(right, left, true), 0.03);
    EXPECT_GT(differences(right, left, false), 0.5) << "the job is not its own mirror image";
    EXPECT_GT(differences(right, right, true), 0.5);
}

TEST(Picture, TheBufferPanelRisesAndFallsWithTheRepliesAndMarksRefusals)
{
    // 14 segments stored at buffer fills 1/7 .. 7/7 .. 1/7; before the
    // eighth the controller once answers "buffer full, data not stored".
    std::string job;
    const int fills[] = {1, 2, 3, 4, 5, 6, 7, 7, 6, 5, 4, 3, 2, 1};
    for (int k = 0; k < 14; ++k) {
        job += data(100, k % 2 ? 50 : -50, 0, 128);
        if (k == 7) job += reply(0xFF, 7, k) + data(100, k % 2 ? 50 : -50, 0, 128);
        job += stored(fills[k], k + 1);
    }
    Sandbox box;
    picture(box, job, "buffer.svg");
    const Image image(box, "buffer.svg");
    // The line's height above segment number k (x axis from 0 to 14).
    auto lineY = [&](int k) {
        const int x = kPanelLeft + kPanelWidth * k / 14;
        for (int y = kBufferTop - 2; y < kBufferBottom; ++y)
            if (bufferBlue(image.at(x, y)) || bufferBlue(image.at(x - 1, y)) || bufferBlue(image.at(x + 1, y))) return y;
        return -1;
    };
    for (int k = 1; k < 14; ++k) {
        const int here = lineY(k), next = lineY(k + 1);
        ASSERT_GT(here, 0) << "segment " << k;
        if (k < 7) {
            EXPECT_LT(next, here) << "rises from segment " << k;
        } else if (k >= 8) {
            EXPECT_GT(next, here) << "falls from segment " << k;
        }
    }
    EXPECT_NEAR(lineY(7), kBufferTop, 3) << "100 % at the top";
    // The refusal before the eighth segment is marked above x = 8.
    const int x8 = kPanelLeft + kPanelWidth * 8 / 14;
    auto red = [](Rgb c) { return c.r > 180 && c.g < 80 && c.b < 80; };
    EXPECT_TRUE(image.any(x8 - 4, kBufferTop - 10, x8 + 4, kBufferTop, red));
    EXPECT_FALSE(image.any(kPanelLeft + kPanelWidth * 4 / 14 - 4, kBufferTop - 10,
                           kPanelLeft + kPanelWidth * 6 / 14 + 4, kBufferTop, red));
}

TEST(Picture, EveryPictureIsValidXmlHostileNamesEmptyCapturesIncluded)
{
    struct Case {
        std::string name;
        std::string capture;
        std::string title; // what the title must say
    };
    const std::vector<Case> cases = {
        {"a&b<c>.txt", squareJob(1), "a&amp;b&lt;c&gt;.txt: 4 segments stored"},
        {"it's \"q\".txt", data(5, 5) + stored(1, 1), "it&apos;s &quot;q&quot;.txt: 1 segment stored"},
        {"caf\xE9]]>.txt", "", "caf\xEF\xBF\xBD]]&gt;.txt: 0 segments stored"},
        {"empty.txt", "", "No segment stored in this capture"},
        {"refused.txt", data(5, 5) + reply(0xFF, 7, 1) + reply(0x00, 0, 1), "No segment stored"},
        {"only-s3.txt", data(0, 0, 40, 255) + stored(1, 1), "Neither S1 nor S2 moves"},
    };
    for (const Case& c : cases) {
        Sandbox box;
        picture(box, c.capture, "out.svg", c.name);
        const std::string svg = box.read("out.svg");
        EXPECT_NE(svg.find(c.title), std::string::npos) << c.name;
        EXPECT_NE(svg.find("viewBox=\"0 0 1000 1020\""), std::string::npos);
        for (const char* banned : {"<script", "href", "url(", "@import", "<image", "<foreignObject"})
            EXPECT_EQ(svg.find(banned), std::string::npos) << banned;
        const Image image(box, "out.svg");
        EXPECT_EQ(image.width(), 1000) << c.name;
    }
}

TEST(Picture, OpensInTheViewerAfterDoneAndTheLastModeWins)
{
    Sandbox box;
    box.write("job.txt", squareJob(1));
    const e2e::Result r = box.run({"-s", "-v", "-picture", "job.txt", "job.svg"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.size() - 6), "\n\nDone");
    EXPECT_NE(r.out.find("\rAnalyzing line: 8\n"), std::string::npos) << "every line counted";
    const auto calls = box.viewerCalls(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], std::vector<std::string>{box.path("job.svg")});
    EXPECT_EQ(box.viewerSaw().substr(0, 5), "<?xml");
    // -p then -s: the steps CSV.
    Sandbox csv;
    csv.write("job.txt", squareJob(1));
    ASSERT_EQ(csv.run({"-p", "-s", "job.txt", "job.csv"}).status, 0);
    EXPECT_EQ(csv.read("job.csv").substr(0, 8), "Cur_seg;");
}

TEST(Picture, TheSampleSessionMatchesTheCheckedPicture)
{
    Sandbox box;
    picture(box, readFile(kSource + "/examples/session.txt"), "session.svg", "session.txt");
    EXPECT_EQ(box.read("session.svg"), readFile(kSource + "/tests/e2e/golden/session.picture.svg"));
}
