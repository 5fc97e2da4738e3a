// The formatter's shortcuts (hex digits two at a time, one-digit decimals)
// must write exactly what printf writes, for every value, including values
// wider than the field's width.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/out.h"

using vornlog::Out;
using vornlog::put;

namespace {

std::vector<std::uint32_t> samples()
{
    std::vector<std::uint32_t> v = {0, 1, 9, 10, 15, 16, 99, 100, 0xFF, 0x100, 0x1FF, 0xFFF, 0xFFFF, 0x10000, 0xFFFFFF,
                                    0x1000000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
    std::uint32_t x = 2463534242u;
    for (int i = 0; i < 2000; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v.push_back(x >> (x % 32)); // every magnitude
    }
    return v;
}

} // namespace

TEST(OutFastPaths, HexAndDecimalMatchPrintfForEveryMagnitude)
{
    for (std::uint32_t u : samples()) {
        const auto d = static_cast<std::int32_t>(u);
        std::string got;
        {
            Out out(&got, false, 64);
            put<"%02X|%04X|%06X|%08X|%2X|%X|%d">(out, u, u, u, u, u, u, d);
        }
        char want[128];
        std::snprintf(want, sizeof want, "%02X|%04X|%06X|%08X|%2X|%X|%d", u, u, u, u, u, u, d);
        ASSERT_EQ(got, want) << u;
    }
}
