#include "bytes.h"

namespace vornlog {

namespace detail {

namespace {

constexpr int hexDigit(int c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A pair whose first character is not a hex digit reads 0; one whose second
// character is not a hex digit reads as its first digit alone.
constexpr std::uint8_t pairValue(int first, int second)
{
    const int high = hexDigit(first);
    if (high < 0) return 0;
    const int low = hexDigit(second);
    return static_cast<std::uint8_t>(low < 0 ? high : high * 16 + low);
}

constexpr std::array<std::uint8_t, 1 << 16> makePairValues()
{
    std::array<std::uint8_t, 1 << 16> values{};
    for (int first = 0; first < 256; ++first)
        for (int second = 0; second < 256; ++second) values[first << 8 | second] = pairValue(first, second);
    return values;
}

constexpr std::array<std::uint8_t, 256> makeCutPairValues()
{
    std::array<std::uint8_t, 256> values{};
    for (int first = 0; first < 256; ++first) values[first] = pairValue(first, -1);
    return values;
}

} // namespace

constexpr std::array<std::uint8_t, 1 << 16> kPairValue = makePairValues();
constexpr std::array<std::uint8_t, 256> kCutPairValue = makeCutPairValues();

} // namespace detail

} // namespace vornlog
