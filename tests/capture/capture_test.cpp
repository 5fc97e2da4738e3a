#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/capture.h"

using namespace vornlog;

namespace {

std::vector<std::string> readAll(std::string_view text, std::size_t blockSize = 1 << 20)
{
    LineReader reader(text, blockSize);
    std::vector<std::string> lines;
    std::string_view line;
    while (reader.next(line)) lines.emplace_back(line);
    return lines;
}

// One hex pair as the decoder reads it from a field: a pair whose first
// character is not a hex digit reads 0, a pair whose second character is not
// a hex digit (or is missing) reads as its first digit.
std::uint8_t hexPair(std::string_view pair) { return detail::pairAt(pair.substr(0, 2), 0); }

} // namespace

TEST(HexPair, ReadsBothCasesAndStopsAtTheFirstNonDigit)
{
    EXPECT_EQ(hexPair("4D"), 0x4D);
    EXPECT_EQ(hexPair("4d"), 0x4D);
    EXPECT_EQ(hexPair("ff"), 0xFF);
    EXPECT_EQ(hexPair("G1"), 0);
    EXPECT_EQ(hexPair("4G"), 4);
    EXPECT_EQ(hexPair("4 "), 4);
    EXPECT_EQ(hexPair("4\n"), 4);
    EXPECT_EQ(hexPair(" 4"), 0);
    EXPECT_EQ(hexPair("-1"), 0);
    EXPECT_EQ(hexPair("4"), 4); // cut by the end of the field
    EXPECT_EQ(hexPair(""), 0);
}

TEST(Bytes, ReadsPairsEveryThreeCharactersAndZeroBeyondTheField)
{
    Bytes bytes("53 02 10 27 00 00 FF FF");
    EXPECT_EQ(bytes.u8(), 0x53);
    EXPECT_EQ(bytes.u8(), 0x02);
    EXPECT_EQ(bytes.value(2), 10000);
    EXPECT_EQ(bytes.position(), 4u);
    bytes.seek(2);
    EXPECT_EQ(bytes.value(4), 10000);
    EXPECT_EQ(bytes.value(4), 0xFFFF) << "bytes 8 and 9 lie beyond the field and read as 0";
    Bytes tail("53 02 10 27 00 00 FF FF");
    tail.seek(4);
    EXPECT_EQ(tail.value(4), -65536);
    EXPECT_EQ(static_cast<std::uint32_t>(tail.value(4)), 0u);
}

TEST(Bytes, MultiByteValuesAreLittleEndianWithWrapAround)
{
    Bytes ones("FF FF FF FF");
    EXPECT_EQ(ones.value(4), -1);
    Bytes seg("05 01 00");
    EXPECT_EQ(seg.value(3), 0x105);
    Bytes high("00 00 00 80");
    EXPECT_EQ(high.value(4), INT32_MIN);
    Bytes word("FF FF");
    EXPECT_EQ(word.value(2), 65535);
}

TEST(Bytes, APairCutByTheFieldEndReadsItsFirstDigit)
{
    Bytes bytes("44 6");
    EXPECT_EQ(bytes.at(1), 6);
    EXPECT_EQ(bytes.at(2), 0);
    EXPECT_EQ(bytes.at(1000), 0);
}

TEST(CaptureLine, LengthFilterCountsTheLineEnd)
{
    CaptureLine line;
    // 40 characters with the line end: skipped; 41: handled.
    std::string forty = "1\tOUT\t0\t1\t56" + std::string(40 - 13, 'x') + "\n";
    ASSERT_EQ(forty.size(), 40u);
    EXPECT_FALSE(parseCaptureLine(forty, line));
    std::string fortyOne = "1\tOUT\t0\t1\t56" + std::string(41 - 13, 'x') + "\n";
    ASSERT_EQ(fortyOne.size(), 41u);
    EXPECT_TRUE(parseCaptureLine(fortyOne, line));
}

TEST(CaptureLine, DirectionComesFromTheSecondColumn)
{
    const std::string pad(40, ' ');
    CaptureLine line;
    ASSERT_TRUE(parseCaptureLine("1\tOUT\tt\t1\t56\t" + pad, line));
    EXPECT_EQ(line.direction, Direction::Pc);
    ASSERT_TRUE(parseCaptureLine("1\tIN\tt\t1\t56\t" + pad, line));
    EXPECT_EQ(line.direction, Direction::Controller);
    ASSERT_TRUE(parseCaptureLine("1\tout\tt\t1\t56\t" + pad, line));
    EXPECT_EQ(line.direction, Direction::Controller);
    ASSERT_TRUE(parseCaptureLine("1\t\tt\t1\t56\t" + pad, line));
    EXPECT_EQ(line.direction, Direction::Controller);
}

TEST(CaptureLine, DataFieldEndsAtTheNextTabOrRunsToTheLineEnd)
{
    CaptureLine line;
    ASSERT_TRUE(parseCaptureLine("13\tIN\t00:00:02.517\t8\t53 02 10 27 00 00 FF FF\tS..'....\n", line));
    EXPECT_EQ(line.field, "53 02 10 27 00 00 FF FF");
    ASSERT_TRUE(parseCaptureLine("14\tOUT\t00:00:02.521\t8\t4D 01 00 00 00 00 00 00\n", line));
    EXPECT_EQ(line.field, "4D 01 00 00 00 00 00 00\n");
    ASSERT_TRUE(parseCaptureLine("14\tOUT\t00:00:02.521\t8\t\tsixth column follows here\n", line));
    EXPECT_EQ(line.field, "");
}

TEST(CaptureLine, FewerThanFourTabsHoldNoDataField)
{
    CaptureLine line;
    EXPECT_FALSE(parseCaptureLine("14\tOUT\t00:00:02.521 4D 01 00 00 00 00 00 00 00\n", line));
    EXPECT_FALSE(parseCaptureLine(std::string(100, 'x'), line));
}

TEST(LineReader, FoldsCrLfAndKeepsLoneCrAndNul)
{
    const std::string text("a\r\nb\rc\nd\0e\r\n\r", 13);
    EXPECT_EQ(readAll(text), (std::vector<std::string>{"a\n", "b\rc\n", std::string("d\0e\n", 4), "\r"}));
    // The same with every block boundary possible, a "\r\n" split between two blocks included.
    for (std::size_t block = 1; block <= 4; ++block)
        EXPECT_EQ(readAll(text, block), readAll(text)) << "block size " << block;
}

TEST(LineReader, LongLinesComeIn254CharacterPieces)
{
    const std::string line300 = std::string(299, 'x') + "\n";
    auto lines = readAll(line300 + "next\n");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), 254u);
    EXPECT_EQ(lines[1].size(), 46u);
    EXPECT_EQ(lines[2], "next\n");
    EXPECT_EQ(readAll(line300 + "next\n", 7), lines);
}

TEST(LineReader, PiecesAreCountedAfterCrLfFolding)
{
    // 253 characters and "\r\n" fold to one capture line of 254.
    const std::string text = std::string(253, 'y') + "\r\n" + std::string(254, 'z') + "\r\n";
    for (std::size_t block : {std::size_t{1} << 20, std::size_t{5}, std::size_t{254}}) {
        auto lines = readAll(text, block);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], std::string(253, 'y') + "\n");
        EXPECT_EQ(lines[1], std::string(254, 'z'));
        EXPECT_EQ(lines[2], "\n");
    }
}

TEST(LineReader, LastLineWithoutLineEndAndEmptyCapture)
{
    EXPECT_EQ(readAll("one\ntwo"), (std::vector<std::string>{"one\n", "two"}));
    EXPECT_TRUE(readAll("").empty());
    EXPECT_EQ(readAll("\n\n"), (std::vector<std::string>{"\n", "\n"}));
}

TEST(DumpClock, ReadsEveryColumnAsTheTimeColumnReaderDoes)
{
    // The common forms have a reader of their own: on columns close to
    // them, right and wrong, a fresh clock gives what parseDumpTime gives.
    std::uint32_t state = 12345;
    auto random = [&state](std::uint32_t n) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<int>(state % n);
    };
    for (int i = 0; i < 100000; ++i) {
        char clock[32], date[16];
        std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", random(26), random(62), random(62));
        std::snprintf(date, sizeof date, "%04d-%02d-%02d", 1650 + random(700), random(14), random(33));
        std::string column = random(2) ? std::string(date) + (random(8) ? " " : "T") + clock : clock;
        if (random(4)) column += ".";
        for (int k = random(12); k > 0; --k) column += static_cast<char>('0' + random(10));
        if (!random(10)) column += "Z";
        if (!random(20)) {
            // Any byte but those the clock trims, high ones too.
            const char c = static_cast<char>(random(256));
            column[static_cast<std::size_t>(random(static_cast<std::uint32_t>(column.size())))] =
                c == ' ' || c == '\r' || c == '\n' ? 'x' : c;
        }

        DumpClock fresh;
        DumpTime time;
        const bool read = fresh.read(" " + column + "\r\n", time);
        const std::optional<DumpTime> expected = parseDumpTime(column);
        ASSERT_EQ(read, expected.has_value()) << column;
        if (read) {
            EXPECT_EQ(time.ns, expected->ns) << column;
            EXPECT_EQ(time.form, expected->form) << column;
            EXPECT_EQ(time.fractionDigits, expected->fractionDigits) << column;
        }
    }
}
