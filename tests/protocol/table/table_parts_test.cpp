// The three table parts, field by field, as the PC writes them and as the
// controller sends them back.
#include <gtest/gtest.h>

#include <map>

#include "capture_builder.h"

namespace vornlog::testing {
namespace {

using namespace std::string_literals;

std::string head(bool fromPc, const std::vector<std::uint8_t>& bytes)
{
    return (fromPc ? "PC     :  " : " QMR5V :  ") + hexPairs(bytes) + "\n   => Inst 0x54=TABLE\n";
}

std::string decode(bool fromPc, const std::vector<std::uint8_t>& bytes)
{
    return report({captureLine(fromPc, hexPairs(bytes))});
}

// The message with some bytes changed, by byte number.
std::vector<std::uint8_t> with(std::vector<std::uint8_t> bytes, const std::map<std::size_t, std::uint8_t>& changes)
{
    for (const auto& [index, value] : changes) bytes.at(index) = value;
    return bytes;
}

// `text` with its one occurrence of `from` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    EXPECT_EQ(text.find(from, at + 1), std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// ---- Low part --------------------------------------------------------------

// A three-axis machine: name "MILL" padded with zero bytes.
const std::vector<std::uint8_t> kLowPart = {
    0x4D, 0x49, 0x4C, 0x4C, 0x00, 0x00, 0x00, 0x00,             // name, bytes 3 to 10
    0x04, 0x08, 0x0C, 0x02, 0x32,                               // A1 to A5, bytes 11 to 15
    0x81, 0x01, 0x82, 0x42, 0x83, 0xC5, 0xC0, 0x46, 0x07, 0x00, // OUT1 to OUT10, bytes 16 to 25
    0x0A,                                                       // FREQ, byte 26
    0x0F,                                                       // SLOPE
    0xFF,                                                       // PWM max
    0x7F,                                                       // MOFF
    0x05,                                                       // FLAGS
    0xFA,                                                       // IO1
    0x02,                                                       // LANG, byte 32
};

const std::string kLowPartLines =
    "     Table name:\tMILL\0\0\0\0\n"s
    "     A1=0x04->\tX\n"
    "     A2=0x08->\tY\n"
    "     A3=0x0C->\tZ\n"
    "     A4=0x02->\tNot used\n"
    "     A5=0x32->\tW\n"
    "     OUT1=\t0x81\n       Axe=1\n       .7=1\t-> STEP\n       .6=0\t-> normal signal\n"
    "     OUT2=\t0x01\n       Axe=1\n       .7=0\t-> DIR\n       .6=0\t-> normal signal\n"
    "     OUT3=\t0x82\n       Axe=2\n       .7=1\t-> STEP\n       .6=0\t-> normal signal\n"
    "     OUT4=\t0x42\n       Axe=2\n       .7=0\t-> DIR\n       .6=1\t-> reversed signal\n"
    "     OUT5=\t0x83\n       Axe=3\n       .7=1\t-> STEP\n       .6=0\t-> normal signal\n"
    "     OUT6=\t0xC5\n       Axe=5\n       .7=1\t-> STEP\n       .6=1\t-> reversed signal\n"
    "     OUT7=\t0xC0\n       Axe is not used\n"
    "     OUT8=\t0x46\n       Axe 6 is invalid\n"
    "     OUT9=\t0x07\n       Axe 7 is invalid\n"
    "     OUT10=\t0x00\n       Axe is not used\n"
    "     FREQ=0x0A\t-> 100kHz\n"
    "     SLOPE=0x0F\t-> 0x00:fastest...0x0F:slowest\n"
    "     PWM max=0xFF -> 255 => 100%\n"
    "     MOFF=0x7F\t-> Auto motors on/off set to 127 sec\n"
    "     FLAGS=0x05\n"
    "       .0=1\t-> Origin/End switches enabled\n"
    "       .1=0\t-> Table orientation normal\n"
    "       .2=1\t-> M_ON/OFF reversed\n"
    "     IO1=0xFA\n"
    "       .0=0\t-> output\n"
    "       .1=1\t-> output default value = 1\n"
    "       .2=0\t-> output do not follow PWM\n"
    "     LANG=0x02\n";

std::vector<std::uint8_t> message(std::vector<std::uint8_t> start, const std::vector<std::uint8_t>& part)
{
    start.insert(start.end(), part.begin(), part.end());
    return start;
}

const std::vector<std::uint8_t> kWriteLow = message({0x54, 0x04, 0x01}, kLowPart);
const std::string kWriteLowLine = "     CMD=0x04\t-> Write low part of table 1\n";

// The low-part write with some bytes changed must differ from the base
// report by exactly one line.
void expectLowLine(const std::map<std::size_t, std::uint8_t>& changes, const std::string& from, const std::string& to)
{
    const std::vector<std::uint8_t> bytes = with(kWriteLow, changes);
    EXPECT_EQ(decode(true, bytes), head(true, bytes) + kWriteLowLine + replaced(kLowPartLines, from, to));
}

TEST(TableLowPart, PcWriteShowsEveryField)
{
    EXPECT_EQ(decode(true, kWriteLow), head(true, kWriteLow) + kWriteLowLine + kLowPartLines);
}

TEST(TableLowPart, ControllerReadReplyHasTheSameLayoutAndNeedsNoRequest)
{
    // The reply is decoded from its own byte 1, whatever the PC asked before.
    const std::vector<std::uint8_t> request = {0x54, 0x07, 0x02};
    const std::vector<std::uint8_t> reply = message({0x54, 0x03, 0x02}, kLowPart);
    EXPECT_EQ(report({captureLine(true, hexPairs(request)), captureLine(false, hexPairs(reply))}),
              head(true, request) + "     CMD=0x07\t-> Read upper part of table 2\n" + head(false, reply) +
                  "     CMD=0x03\t-> Read low part of table 2\n" + kLowPartLines);
}

TEST(TableLowPart, EmptyNameSkipsTheRestOfTheName)
{
    expectLowLine({{3, 0x00}, {4, 0x41}, {5, 0x42}, {10, 0x47}}, "     Table name:\tMILL\0\0\0\0\n"s,
                  "     Table name:\tempty name...\n");
}

TEST(TableLowPart, NameIsEightRawCharactersWhateverTheyAre)
{
    expectLowLine({{4, '%'}, {5, 'd'}, {6, '\n'}, {7, 0xFF}, {10, 'Z'}}, "MILL\0\0\0\0\n"s,
                  "M%d\n\xFF\0\0Z\n"s);
}

TEST(TableLowPart, AxisCodes)
{
    const std::string a1 = "     A1=0x04->\tX\n";
    expectLowLine({{11, 0x00}}, a1, "     A1=0x00->\tNot used\n");
    expectLowLine({{11, 0x03}}, a1, "     A1=0x03->\tNot used\n");
    for (std::uint8_t unknown : {0x07, 0x0B, 0x0F, 0x13, 0x1F, 0x24, 0x2F, 0x33, 0xFF}) {
        SCOPED_TRACE(static_cast<int>(unknown));
        char line[40];
        std::snprintf(line, sizeof line, "     A1=0x%02X->\tError: Unknown value...\n", unknown);
        expectLowLine({{11, unknown}}, a1, line);
    }
}

TEST(TableLowPart, SlopeOfSixteenOrMoreIsInvalid)
{
    const std::string slope = "     SLOPE=0x0F\t-> 0x00:fastest...0x0F:slowest\n";
    expectLowLine({{27, 0x00}}, slope, "     SLOPE=0x00\t-> 0x00:fastest...0x0F:slowest\n");
    expectLowLine({{27, 0x10}}, slope, "     SLOPE=0x10\t-> ERROR: Invalid value...\n");
    expectLowLine({{27, 0xFF}}, slope, "     SLOPE=0xFF\t-> ERROR: Invalid value...\n");
}

TEST(TableLowPart, PwmMaxPercentageIsTruncated)
{
    const std::string pwm = "     PWM max=0xFF -> 255 => 100%\n";
    expectLowLine({{28, 0x00}}, pwm, "     PWM max=0x00 -> 0 => 0%\n");
    expectLowLine({{28, 0x01}}, pwm, "     PWM max=0x01 -> 1 => 0%\n");
    expectLowLine({{28, 0x80}}, pwm, "     PWM max=0x80 -> 128 => 50%\n");
    expectLowLine({{28, 0xFE}}, pwm, "     PWM max=0xFE -> 254 => 99%\n");
}

TEST(TableLowPart, MoffDelay)
{
    const std::string moff = "     MOFF=0x7F\t-> Auto motors on/off set to 127 sec\n";
    expectLowLine({{29, 0x00}}, moff, "     MOFF=0x00\t-> Auto motors on/off disabled\n");
    expectLowLine({{29, 0x01}}, moff, "     MOFF=0x01\t-> Auto motors on/off set to 1 sec\n");
    expectLowLine({{29, 0x80}}, moff, "     MOFF=0x80\t-> ERROR: invalid value\n");
}

TEST(TableLowPart, FlagsAndIo1ShowBitsZeroToTwoOnly)
{
    expectLowLine({{30, 0xFA}},
                  "     FLAGS=0x05\n"
                  "       .0=1\t-> Origin/End switches enabled\n"
                  "       .1=0\t-> Table orientation normal\n"
                  "       .2=1\t-> M_ON/OFF reversed\n",
                  "     FLAGS=0xFA\n"
                  "       .0=0\t-> Origin/End switches disabled\n"
                  "       .1=1\t-> Table orientation reversed\n"
                  "       .2=0\t-> M_ON/OFF normal\n");
    expectLowLine({{31, 0x05}},
                  "     IO1=0xFA\n"
                  "       .0=0\t-> output\n"
                  "       .1=1\t-> output default value = 1\n"
                  "       .2=0\t-> output do not follow PWM\n",
                  "     IO1=0x05\n"
                  "       .0=1\t-> input\n"
                  "       .1=0\t-> output default value = 0\n"
                  "       .2=1\t-> output follow PWM\n");
}

// ---- High part -------------------------------------------------------------

const std::vector<std::uint8_t> kHighPart = {
    0xC8, 0x00, 0x03, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x64, 0x00, // S1 to S5: 200, 3, 0, 65535, 100
    0xB8, 0x0B, 0xE8, 0x03, 0xF4, 0x01, 0xFF, 0xFF, 0xD2, 0x04, // V1M to V5M: 3000, 1000, 500, 65535, 1234
    0xDC, 0x05, 0x02, 0x00, 0x07, 0x00, 0x00, 0x00, 0x10, 0x27, // V1MA to V5MA: 1500, 2, 7, 0, 10000
};

// Axis 3 has 0 steps for 1 mm: its speeds are not shown.
const std::string kHighPartLines =
    "     S1=0x00C8\t-> 200 steps for 1mm\n"
    "     S2=0x0003\t-> 3 steps for 1mm\n"
    "     S3=0x0000\t-> 0 steps for 1mm\n"
    "     S4=0xFFFF\t-> 65535 steps for 1mm\n"
    "     S5=0x0064\t-> 100 steps for 1mm\n"
    "     V1M=0x0BB8\t-> 3000 steps/s -> 15.0 mm/s without acceleration\n"
    "     V2M=0x03E8\t-> 1000 steps/s -> 333.3 mm/s without acceleration\n"
    "     V4M=0xFFFF\t-> 65535 steps/s -> 1.0 mm/s without acceleration\n"
    "     V5M=0x04D2\t-> 1234 steps/s -> 12.3 mm/s without acceleration\n"
    "     V1MA=0x05DC -> 1500 steps/s -> 7.5 mm/s with acceleration\n"
    "     V2MA=0x0002 -> 2 steps/s -> 0.7 mm/s with acceleration\n"
    "     V4MA=0x0000 -> 0 steps/s -> 0.0 mm/s with acceleration\n"
    "     V5MA=0x2710 -> 10000 steps/s -> 100.0 mm/s with acceleration\n";

TEST(TableHighPart, PcWriteAndControllerReply)
{
    const std::vector<std::uint8_t> write = message({0x54, 0x06, 0x00}, kHighPart);
    EXPECT_EQ(decode(true, write), head(true, write) + "     CMD=0x06\t-> Write high part of table 0\n" + kHighPartLines);
    const std::vector<std::uint8_t> reply = message({0x54, 0x05, 0x01}, kHighPart);
    EXPECT_EQ(decode(false, reply), head(false, reply) + "     CMD=0x05\t-> Read high part of table 1\n" + kHighPartLines);
}

TEST(TableHighPart, StepsForOneMillimetreDoNotOutliveTheirMessage)
{
    const std::vector<std::uint8_t> first = message({0x54, 0x05, 0x01}, kHighPart);
    // Same speeds, no steps for 1 mm on any axis: no speed line at all.
    const std::vector<std::uint8_t> second = with(first, {{3, 0}, {5, 0}, {9, 0}, {10, 0}, {11, 0}});
    EXPECT_EQ(report({captureLine(false, hexPairs(first)), captureLine(false, hexPairs(second))}),
              head(false, first) + "     CMD=0x05\t-> Read high part of table 1\n" + kHighPartLines +
                  head(false, second) + "     CMD=0x05\t-> Read high part of table 1\n" +
                  "     S1=0x0000\t-> 0 steps for 1mm\n"
                  "     S2=0x0000\t-> 0 steps for 1mm\n"
                  "     S3=0x0000\t-> 0 steps for 1mm\n"
                  "     S4=0x0000\t-> 0 steps for 1mm\n"
                  "     S5=0x0000\t-> 0 steps for 1mm\n");
}

// ---- Upper part ------------------------------------------------------------

TEST(TableUpperPart, PcWriteShowsFiveDistancesAndNothingAfterThem)
{
    // Two bytes after the part: not shown.
    const std::vector<std::uint8_t> write = {0x54, 0x08, 0x02, 0x00, 0x00, 0x01, 0x00, 0x34,
                                             0x12, 0xFF, 0xFF, 0x00, 0x80, 0xAA, 0xBB};
    EXPECT_EQ(decode(true, write), head(true, write) +
                                       "     CMD=0x08\t-> Write upper part of table 2\n"
                                       "     ORI1=0x0000\t-> 0 steps from Origin switch\n"
                                       "     ORI2=0x0001\t-> 1 steps from Origin switch\n"
                                       "     ORI3=0x1234\t-> 4660 steps from Origin switch\n"
                                       "     ORI4=0xFFFF\t-> 65535 steps from Origin switch\n"
                                       "     ORI5=0x8000\t-> 32768 steps from Origin switch\n");
}

TEST(TableUpperPart, ShortReplyReadsMissingBytesAsZero)
{
    EXPECT_EQ(fromController("54 07 02 10 27"), " QMR5V :  54 07 02 10 27\n   => Inst 0x54=TABLE\n"
                                                  "     CMD=0x07\t-> Read upper part of table 2\n"
                                                  "     ORI1=0x2710\t-> 10000 steps from Origin switch\n"
                                                  "     ORI2=0x0000\t-> 0 steps from Origin switch\n"
                                                  "     ORI3=0x0000\t-> 0 steps from Origin switch\n"
                                                  "     ORI4=0x0000\t-> 0 steps from Origin switch\n"
                                                  "     ORI5=0x0000\t-> 0 steps from Origin switch\n");
}

} // namespace
} // namespace vornlog::testing
