// The bit rows of the protocol's tables, copied from the rows made when
// compiling, against the rows the report makes at run time for a table no
// layout shows: a copy of the same entries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/out.h"
#include "output/bit_rows.h"
#include "output/report.h"
#include "protocol/instructions/status.h"

using namespace vornlog;

namespace {

std::string rows(std::span<const BitText> table, unsigned value)
{
    std::string s;
    {
        Out out(&s);
        putBits(out, table, value);
    }
    return s;
}

} // namespace

TEST(BitRows, EveryTableOfTheLayoutsWritesWhatItsEntriesSayForEveryByte)
{
    ASSERT_GT(kBitTables.count, 4u);
    for (std::size_t i = 0; i < kBitTables.count; ++i) {
        const std::span<const BitText> table = kBitTables.tables[i];
        const std::vector<BitText> copy(table.begin(), table.end());
        for (unsigned value = 0; value < 256; ++value) {
            const std::string made = rows(copy, value);
            ASSERT_EQ(rows(table, value), made) << "table " << i << ", value " << value;
            // The table's first entries alone: no more rows than entries.
            ASSERT_EQ(rows(table.first(table.size() - 1), value),
                      rows(std::span(copy).first(copy.size() - 1), value))
                << "table " << i << ", value " << value;
        }
    }
    // A row as the report shows it.
    const std::string first = "       .0=0\t-> No steps in progress\n       .1=0\t-> No stop pending\n"
                              "       .3=1\t-> Source:USB\n";
    EXPECT_EQ(rows(motion::kFlagBits, 0x08).substr(0, first.size()), first);
}
