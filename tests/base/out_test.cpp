#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "base/out.h"

using namespace vornlog;

namespace {

template <class F>
std::string written(F&& f, bool crlf = false)
{
    std::string s;
    {
        Out out(&s, crlf);
        f(out);
    }
    return s;
}

} // namespace

TEST(Put, HexConversionsPadAsPrintfDoes)
{
    EXPECT_EQ(written([](Out& o) { put<"0x%02X|0x%04X|0x%06X|0x%08X">(o, 0x0A, 0xFFFF, 0x105, -1); }),
              "0x0A|0xFFFF|0x000105|0xFFFFFFFF");
    EXPECT_EQ(written([](Out& o) { put<"0x%2X=%d|0x%2X">(o, 5, 5, 0x1F); }), "0x 5=5|0x1F");
    EXPECT_EQ(written([](Out& o) { put<"0x%02X">(o, 0); }), "0x00");
    EXPECT_EQ(written([](Out& o) { put<"%X">(o, 0xABC); }), "ABC");
}

TEST(Put, DecimalsPercentsAndRawCharacters)
{
    EXPECT_EQ(written([](Out& o) { put<"%d;%d;%d%%">(o, -2147483647 - 1, 0, 42); }), "-2147483648;0;42%");
    EXPECT_EQ(written([](Out& o) { put<"[%c%c%c]">(o, 'H', 0, 3); }), std::string("[H\0\3]", 5));
    EXPECT_EQ(written([](Out& o) { put<"<%s>">(o, std::string_view("a\0b", 3)); }), std::string("<a\0b>", 5));
}

TEST(Put, OneDigitAfterThePointWhateverTheLocale)
{
    const auto speeds = [](Out& o) { put<"%.1f %.1f %.1f %.1f">(o, 3000.0 / 200, 1000.0 / 3, 0.04, 65535.0); };
    EXPECT_EQ(written(speeds), "15.0 333.3 0.0 65535.0");
    const char* french = std::setlocale(LC_ALL, "fr_FR.UTF-8");
    if (!french) french = std::setlocale(LC_ALL, "de_DE.UTF-8");
    EXPECT_EQ(written(speeds), "15.0 333.3 0.0 65535.0") << (french ? french : "no comma locale here");
    std::setlocale(LC_ALL, "C");
}

TEST(Out, WritesCrLfForEveryLineFeedWhenAskedTo)
{
    EXPECT_EQ(written([](Out& o) { put<"a\nb%c\n">(o, '\n'); }, true), "a\r\nb\r\n\r\n");
    EXPECT_EQ(written([](Out& o) { put<"a\nb\n">(o); }, false), "a\nb\n");
}

TEST(Out, PiecesLargerThanTheBufferAndManySmallOnesArriveWhole)
{
    const std::string big(Out::kBufferSize + 10, 'q');
    std::string expected;
    const std::string s = written([&](Out& o) {
        for (int i = 0; i < 100000; ++i) put<"%d\n">(o, i);
        o.write(big);
    });
    for (int i = 0; i < 100000; ++i) expected += std::to_string(i) + "\n";
    expected += big;
    EXPECT_EQ(s, expected);
}
