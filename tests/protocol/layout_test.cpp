// The interpreter of layouts, each kind of step on crafted messages, as the
// report writes them. The instructions' own layouts are checked by the
// tests of each instruction and the whole-output comparisons.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "base/out.h"
#include "output/report.h"
#include "protocol/decode.h"
#include "protocol/layout.h"

namespace {

using namespace vornlog;

constexpr CodeText kCodes[] = {{0x01, "one"}, {0x02, "two of %d"}};
constexpr Field kCmd{.name = "CMD", .head = "CMD=%02X ", .codes = kCodes, .unknown = "unknown"};
constexpr BitText kRows[] = {{0, "b0", "not b0"}};
constexpr Field kFlag{.name = "F", .head = "F=%02X", .bits = kRows};
constexpr Scale kScales[] = {{}, {100, 255}};
constexpr Field kWide{.name = "W", .width = 2, .head = "W=%04X ", .meaning = "%d is %d", .shows = kScales};
constexpr Field kNumbered{.name = "N%d", .first = 1, .last = 2, .head = "N%d=%02X ", .meaning = "%d"};
constexpr Field kLength{.name = "LEN", .head = "LEN=%02X ", .meaning = "%d"};
constexpr Field kText{.name = "T", .kind = FieldKind::Text, .width = 0, .meaning = "[%s]"};
constexpr Field kName{.name = "NAME", .kind = FieldKind::Text, .width = 3, .meaning = "%s"};
constexpr CodeText kOff[] = {{0x00, "off"}};
constexpr Field kDelay{.name = "D", .head = "D=%02X ", .meaning = "%d s", .codes = kOff, .unknown = "bad"};
constexpr Field kKey{.name = "K", .width = 2, .head = "K=%04X ", .meaning = "OK"};
constexpr Field kRow{.name = "R%d", .first = 0, .last = 2, .head = "R%d=%02X ", .sharesLine = true};

// A part whose stop ends the whole message.
constexpr Step kTailSteps[] = {read(kFlag), stop()};
constexpr Layout kTail{kTailSteps};

constexpr Step kGroupSteps[] = {
    whenBit(0x80, 2), readWithRows(kFlag, {}), stop(),
    read(kCmd, kNumberAfter),
    when(0x02, 3), skip(1), part(kTail), line("not reached"),
    whenNamed(kCmd, 1), line("named"),
    whenIn(0x01, 0x01, 2), read(kFlag), read(kFlag, kNonzeroAsFF),
};
constexpr Layout kGroups{kGroupSteps};

constexpr Step kCheckSteps[] = {
    check(kLength, 1, 3, Invalid::ErrorLine, "bad LEN=%02X (%d)"),
    textOf(kText, kLength),
    check(kWide, 0, 300, Invalid::InLine, "too wide"),
    check(kDelay, 1, 9, Invalid::Codes),
    check(kKey, 0x1234, 0x1234, Invalid::Ends, "no key"),
    repeat(kNumbered),
    text(kName, "empty"),
    read(kFlag),
    repeat(kRow),
};
constexpr Layout kChecks{kCheckSteps};

template <const Layout& L>
std::string run(std::string_view field)
{
    std::string text;
    {
        Out out(&text);
        ReportSink sink(out);
        Message<ReportSink> m(field, sink);
        runLayout<L>(m);
    }
    return text;
}

TEST(Layout, GroupsTestByteOneAndAStopEndsTheMessage)
{
    // Bit 7: the flag without its rows, and nothing after.
    EXPECT_EQ(run<kGroups>("00 81 01"), "     F=81\n");
    // A code without a text ends the message.
    EXPECT_EQ(run<kGroups>("00 05 01"), "     CMD=05 unknown\n");
    // The byte after the code is its "%d"; the stop in the part ends the
    // message, not only the part.
    EXPECT_EQ(run<kGroups>("00 02 07 01"), "     CMD=02 two of 7\n     F=01\n       .0=1\t-> b0\n");
    // The byte after the code is not read by it.
    EXPECT_EQ(run<kGroups>("00 01 06 02"),
              "     CMD=01 one\n     named\n     F=06\n       .0=0\t-> not b0\n     F=FF\n       .0=1\t-> b0\n");
}

TEST(Layout, ChecksTextsAndRepeats)
{
    // The numbers of a field that shares its line: one line, indented once.
    EXPECT_EQ(run<kChecks>("00 02 41 42 2C 01 05 34 12 07 08 61 62 63 01 0A 0B 0C"),
              "     LEN=02 2\n     T=[AB]\n     W=012C 300 is 117\n     D=05 5 s\n     K=1234 OK\n     N1=07 7\n"
              "     N2=08 8\n     NAME=abc\n     F=01\n       .0=1\t-> b0\n     R0=0A R1=0B R2=0C \n");
    // Out of range: an error line (and the text as long as the value says),
    // an error on the line, the code's text or error; the name's first
    // character 0 skips the rest of it.
    EXPECT_EQ(run<kChecks>("00 00 2D 01 00 34 12 07 08 00 62 63 01"),
              "     bad LEN=00 (0)\n     T=[]\n     W=012D too wide\n     D=00 off\n     K=1234 OK\n     N1=07 7\n"
              "     N2=08 8\n     NAME=empty\n     F=01\n       .0=1\t-> b0\n     R0=00 R1=00 R2=00 \n");
    EXPECT_EQ(run<kChecks>("00 01 41 00 00 0A 00 00 07 08"),
              "     LEN=01 1\n     T=[A]\n     W=0000 0 is 0\n     D=0A bad\n     no key\n");
}

} // namespace
