// The Table instruction itself: sub-commands of the PC, NBR, and the
// controller's statuses and echoed read sub-commands.
#include <gtest/gtest.h>

#include "capture_builder.h"

namespace vornlog::testing {
namespace {

const std::string kInstruction = "   => Inst 0x54=TABLE\n";

std::string pcHead(std::string_view field) { return "PC     :  " + std::string(field) + "\n" + kInstruction; }
std::string controllerHead(std::string_view field) { return " QMR5V :  " + std::string(field) + "\n" + kInstruction; }

TEST(TableInstruction, PcReadsOfTheTableNumberAndOfEachPart)
{
    EXPECT_EQ(fromPc("54 00"), pcHead("54 00") + "     CMD=0x00\t-> Read table number from EEPROM\n");
    // Bytes after the sub-command are not shown for CMD 0x00.
    EXPECT_EQ(fromPc("54 00 02 41"), pcHead("54 00 02 41") + "     CMD=0x00\t-> Read table number from EEPROM\n");
    EXPECT_EQ(fromPc("54 03 00"), pcHead("54 03 00") + "     CMD=0x03\t-> Read low part of table 0\n");
    // A read request does not check its table number.
    EXPECT_EQ(fromPc("54 05 07"), pcHead("54 05 07") + "     CMD=0x05\t-> Read high part of table 7\n");
    EXPECT_EQ(fromPc("54 07 FF"), pcHead("54 07 FF") + "     CMD=0x07\t-> Read upper part of table 255\n");
}

TEST(TableInstruction, PcTableNumberToUseIsCheckedAgainstTheThreeTables)
{
    const std::string write = "     CMD=0x01\t-> Write table number to use in EEPROM and load it\n";
    EXPECT_EQ(fromPc("54 01 00"), pcHead("54 01 00") + write + "     NBR=0x00\t-> table number 0\n");
    EXPECT_EQ(fromPc("54 01 02"), pcHead("54 01 02") + write + "     NBR=0x02\t-> table number 2\n");
    EXPECT_EQ(fromPc("54 01 03"), pcHead("54 01 03") + write + "     ERROR: invalid number NBR=0x03\n");
    EXPECT_EQ(fromPc("54 01 FF"), pcHead("54 01 FF") + write + "     ERROR: invalid number NBR=0xFF\n");
}

TEST(TableInstruction, PcUnknownSubCommandEndsTheMessage)
{
    for (const char* field : {"54 02 01", "54 09 01", "54 FF 01", "54 10"}) {
        SCOPED_TRACE(field);
        const std::string cmd(field + 3, 2);
        EXPECT_EQ(fromPc(field), pcHead(field) + "     CMD=0x" + cmd + "\t-> ERROR: Unknown command\n");
    }
}

TEST(TableInstruction, ControllerStatuses)
{
    EXPECT_EQ(fromController("54 00 01"),
              controllerHead("54 00 01") + "     RET=0x00\t-> Write failed or table number 1 in use\n");
    // Byte 2 of a successful write is not shown.
    EXPECT_EQ(fromController("54 FF 01"),
              controllerHead("54 FF 01") + "     RET=0xFF\t-> Table successfully written in EEPROM\n");
}

TEST(TableInstruction, ControllerEchoOfAnythingButAReadIsAnInvalidStatus)
{
    // A write sub-command echoed by the controller carries no part to decode.
    for (const char* field : {"54 04 00 41 42", "54 01 00", "54 02", "54 06 01", "54 08 01", "54 09", "54 FE 00"}) {
        SCOPED_TRACE(field);
        const std::string cmd(field + 3, 2);
        EXPECT_EQ(fromController(field),
                  controllerHead(field) + "     CMD=0x" + cmd + "\t-> ERROR: Invalid status\n");
    }
}

} // namespace
} // namespace vornlog::testing
