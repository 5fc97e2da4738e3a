// A multi-byte value read in one go (all its pairs whole in the field) must
// equal the same bytes read one by one, wherever the field's end cuts it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "capture/capture.h"

using vornlog::Bytes;

TEST(BytesPaths, ValuesEqualTheirBytesReadOneByOneWhereverTheFieldEnds)
{
    const std::string full = "F1 a2 3G 45 x6 78 9A BC DE";
    for (std::size_t cut = 0; cut <= full.size(); ++cut) {
        const std::string field = full.substr(0, cut);
        for (std::size_t start = 0; start < 4; ++start)
            for (int width = 1; width <= 4; ++width) {
                Bytes whole(field);
                whole.seek(start);
                const std::int32_t value = whole.value(width);
                std::uint32_t expected = 0;
                Bytes single(field);
                for (int k = 0; k < width; ++k) expected |= std::uint32_t{single.at(start + k)} << (8 * k);
                EXPECT_EQ(static_cast<std::uint32_t>(value), expected) << "cut " << cut << " start " << start;
                EXPECT_EQ(whole.position(), start + width);
            }
    }
}
