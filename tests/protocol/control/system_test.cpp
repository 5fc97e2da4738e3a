#include <gtest/gtest.h>

#include "capture_builder.h"

using namespace std::string_literals;
using vornlog::testing::fromController;
using vornlog::testing::fromPc;

TEST(Reset, SequenceThenRebootMode)
{
    const std::string head = "   => Inst 0x5A=Reset\n     Reset sequence 0xAA55 OK\n";
    EXPECT_EQ(fromPc("5A 55 AA 01"), "PC     :  5A 55 AA 01\n" + head + "     BLDR=0x01\t-> Reboot in Boot Loader mode\n");
    EXPECT_EQ(fromPc("5A 55 AA 02"), "PC     :  5A 55 AA 02\n" + head + "     BLDR=0x02\t-> ERROR: Unknown command\n");
}

TEST(Reset, SequenceInTheWrongOrderReadsNoMode)
{
    EXPECT_EQ(fromPc("5A AA 55 01"),
              "PC     :  5A AA 55 01\n"
              "   => Inst 0x5A=Reset\n"
              "     ERROR: Reset sequence 0xAA55 not present...\n");
}

TEST(Reset, FromTheControllerIsAnUnknownInstruction)
{
    EXPECT_EQ(fromController("5A 55 AA 01"), " QMR5V :  5A 55 AA 01\n   => ERROR: Unknown instruction...\n");
}

TEST(VersionAndFlashModel, RequestsReadNoParameters)
{
    EXPECT_EQ(fromPc("56 01 02"), "PC     :  56 01 02\n   => Inst 0x56=Version\n     No paramters\n");
    EXPECT_EQ(fromPc("46 01 02"), "PC     :  46 01 02\n   => Inst 0x46=Flash Model\n     No paramters\n");
}

TEST(Version, ReplyHasExactlyElevenCharacters)
{
    // A short text is filled up to eleven with what follows, zero bytes included.
    EXPECT_EQ(fromController("56 51 4D 52 35 00 31"),
              " QMR5V :  56 51 4D 52 35 00 31\n"
              "   => Inst 0x56=Version\n"
              "     Version=\tQMR5\0"s "1\0\0\0\0\0\n"s);
    EXPECT_EQ(fromController("56 51 4D 52 35 56 20 31 2E 30 2E 32 58"),
              " QMR5V :  56 51 4D 52 35 56 20 31 2E 30 2E 32 58\n"
              "   => Inst 0x56=Version\n"
              "     Version=\tQMR5V 1.0.2\n");
}

TEST(FlashModel, ReplyShowsFourBytes)
{
    EXPECT_EQ(fromController("46 BF 25 8D 0A"),
              " QMR5V :  46 BF 25 8D 0A\n"
              "   => Inst 0x46=Flash Model\n"
              "     ID=\t0xBF\n"
              "     TYPE=\t0x25\n"
              "     SIZE=\t0x8D\n"
              "     WPS=\t0x0A\n");
}
