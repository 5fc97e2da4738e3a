#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cstdint>
#include <vector>
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

// The one-decimal text is worked out from the double's bits (the
// WebAssembly build's library has no floating-point to_chars): it must
// round exactly as the library's exact conversion does, ties included.
TEST(Put, OneDigitAfterThePointRoundsAsTheLibrary)
{
    std::vector<double> values = {0.05, 0.15, 0.25, 0.35, 2.5, -0.25, -0.04, -0.0, 0.0, 1e-300, 0.95, 9.95,
                                  99.95, 1e17, 123456789012.25, 4503599627370495.5, 65535.0 / 255};
    std::uint64_t x = 88172645463325252u;
    for (int i = 0; i < 200000; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        const double scale[] = {1e-3, 1, 1e3, 1e6, 1e12};
        values.push_back(static_cast<double>(x % 2000001) / 20 - 50000); // many exact halves and tenths
        values.push_back(static_cast<double>(x >> 11) / static_cast<double>(1ull << 53) * scale[x % 5]);
    }
    for (double v : values) {
        char want[64];
        char* end = std::to_chars(want, want + sizeof want, v, std::chars_format::fixed, 1).ptr;
        char got[fmt::kMaxConv];
        ASSERT_EQ(std::string(got, fmt::fixed1(got, v)), std::string(want, end)) << v;
    }
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
