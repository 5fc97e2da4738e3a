#include <gtest/gtest.h>

#include "capture_builder.h"

using namespace std::string_literals;
using vornlog::testing::fromController;
using vornlog::testing::fromPc;

namespace {
const std::string kLcd = "   => Inst 0x4C=LCD\n";
}

TEST(LcdString, UpperLinesAreLineCodesNotCommands)
{
    EXPECT_EQ(fromPc("4C 10 05 02 48 69"),
              "PC     :  4C 10 05 02 48 69\n" + kLcd +
              "     LINE=0x10\t-> 3rd line\n"
              "     POS=0x 5=5\n"
              "     LEN=0x 2=2\n"
              "     STRING=Hi\n");
    EXPECT_EQ(fromPc("4C 11 13 14 41"),
              "PC     :  4C 11 13 14 41\n" + kLcd +
              "     LINE=0x11\t-> 4th line\n"
              "     POS=0x13=19\n"
              "     LEN=0x14=20\n"
              "     STRING=A"s + std::string(19, '\0') + "\n");
}

TEST(LcdString, OutOfRangeFieldsAreShownAndUsed)
{
    // 21 characters are written although LEN is over 20.
    EXPECT_EQ(fromPc("4C 00 14 15 61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F 70 71 72 73 74 75 76"),
              "PC     :  4C 00 14 15 61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F 70 71 72 73 74 75 76\n" + kLcd +
              "     LINE=0x00\t-> 1st line\n"
              "     ERROR invalid value POS=0x14=20\n"
              "     ERROR invalid value LEN=0x15=21\n"
              "     STRING=abcdefghijklmnopqrstu\n");
    EXPECT_EQ(fromPc("4C 01 00 00 41"),
              "PC     :  4C 01 00 00 41\n" + kLcd +
              "     LINE=0x01\t-> 2nd line\n"
              "     POS=0x 0=0\n"
              "     ERROR invalid value LEN=0x 0=0\n"
              "     STRING=\n");
}

TEST(LcdString, CharactersAreWrittenRaw)
{
    EXPECT_EQ(fromPc("4C 00 00 03 41 03 00"),
              "PC     :  4C 00 00 03 41 03 00\n" + kLcd +
              "     LINE=0x00\t-> 1st line\n"
              "     POS=0x 0=0\n"
              "     LEN=0x 3=3\n"
              "     STRING=A\x03\0\n"s);
}

TEST(LcdCommand, CodesOutsideTheTwoFormsEndTheMessage)
{
    for (const char* code : {"07", "0F", "12"}) {
        const std::string bytes = "4C "s + code + " 01 02";
        EXPECT_EQ(fromPc(bytes),
                  "PC     :  " + bytes + "\n" + kLcd + "     CMD=0x" + code + "\t-> ERROR: Unknown command\n");
    }
    EXPECT_EQ(fromPc("4C 05"), "PC     :  4C 05\n" + kLcd + "     CMD=0x05\t-> Clear display\n");
}

TEST(LcdCommand, GraphicCharacterHasEightRows)
{
    EXPECT_EQ(fromPc("4C 06 07 1F 11 11 11 11 11 1F 00"),
              "PC     :  4C 06 07 1F 11 11 11 11 11 1F 00\n" + kLcd +
              "     CMD=0x06\t-> Create a graphic character\n"
              "     CHAR=0x 7=7\n"
              "     C0=0x1F C1=0x11 C2=0x11 C3=0x11 C4=0x11 C5=0x11 C6=0x1F C7=0x 0 \n");
    EXPECT_EQ(fromPc("4C 06 08 01 02 03 04 05 06 07 08"),
              "PC     :  4C 06 08 01 02 03 04 05 06 07 08\n" + kLcd +
              "     CMD=0x06\t-> Create a graphic character\n"
              "     ERROR invalid character hex code value=0x 8=8\n"
              "     C0=0x 1 C1=0x 2 C2=0x 3 C3=0x 4 C4=0x 5 C5=0x 6 C6=0x 7 C7=0x 8 \n");
}

TEST(LcdReply, DefaultDisplayState)
{
    EXPECT_EQ(fromController("4C 01"), " QMR5V :  4C 01\n" + kLcd + "     RET=0x01\t-> Enable\n");
    EXPECT_EQ(fromController("4C 02"), " QMR5V :  4C 02\n" + kLcd + "     RET=0x02\t-> ERROR: Invalid status\n");
}
