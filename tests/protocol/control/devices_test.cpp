#include <gtest/gtest.h>

#include "capture_builder.h"

using vornlog::testing::fromController;
using vornlog::testing::fromPc;

TEST(Io1, ChangeSettingShowsTheSettingBits)
{
    EXPECT_EQ(fromPc("47 03 05"),
              "PC     :  47 03 05\n"
              "   => Inst 0x47=General input/output IO1\n"
              "     CMD=0x03\t-> Change IO1 pin setting\n"
              "     VAL=0x05\n"
              "       .0=1\t-> input\n"
              "       .1=0\t-> output default value = 0\n"
              "       .2=1\t-> output follow PWM\n");
}

TEST(Io1, OnlyChangeSettingReadsAValue)
{
    EXPECT_EQ(fromPc("47 02 05"),
              "PC     :  47 02 05\n"
              "   => Inst 0x47=General input/output IO1\n"
              "     CMD=0x02\t-> Read IO1 pin setting\n");
    EXPECT_EQ(fromPc("47 04 05"),
              "PC     :  47 04 05\n"
              "   => Inst 0x47=General input/output IO1\n"
              "     CMD=0x04\t-> ERROR: Unknown command\n");
}

TEST(Io1, ReplyWithInvalidLevelStillShowsTheSetting)
{
    // Bits 3 to 7 of the setting are not shown.
    EXPECT_EQ(fromController("47 02 F8"),
              " QMR5V :  47 02 F8\n"
              "   => Inst 0x47=General input/output IO1\n"
              "     RET=0x02\t-> ERROR: Invalid status\n"
              "     VAL=0xF8\n"
              "       .0=0\t-> output\n"
              "       .1=0\t-> output default value = 0\n"
              "       .2=0\t-> output do not follow PWM\n");
}

TEST(Motors, SetDelayRunsTheCmdLineIntoTheMoffLine)
{
    const std::string head = "   => Inst 0x4D=Motors ON/OFF\n     CMD=0x03\t-> ";
    EXPECT_EQ(fromPc("4D 03 1E"), "PC     :  4D 03 1E\n" + head + "     MOFF=0x1E\t-> Auto motors on/off set to 30 sec\n");
    EXPECT_EQ(fromPc("4D 03 7F"), "PC     :  4D 03 7F\n" + head + "     MOFF=0x7F\t-> Auto motors on/off set to 127 sec\n");
    EXPECT_EQ(fromPc("4D 03 80"), "PC     :  4D 03 80\n" + head + "     MOFF=0x80\t-> ERROR: invalid value\n");
    EXPECT_EQ(fromPc("4D 03 00"), "PC     :  4D 03 00\n" + head + "     MOFF=0x00\t-> Auto motors on/off disabled\n");
}

TEST(Motors, UnknownCommandReadsNoDelay)
{
    EXPECT_EQ(fromPc("4D 04 1E"),
              "PC     :  4D 04 1E\n"
              "   => Inst 0x4D=Motors ON/OFF\n"
              "     CMD=0x04\t-> ERROR: Unknown command\n");
}

TEST(Motors, ReplyUsesItsOwnErrorWordingAndStillShowsTheDelay)
{
    EXPECT_EQ(fromController("4D 02 0A"),
              " QMR5V :  4D 02 0A\n"
              "   => Inst 0x4D=Motors ON/OFF\n"
              "     RET=0x02\t-> ERROR: invalid value\n"
              "     MOFF=0x0A\t-> Auto motors on/off set to 10 sec\n");
}

TEST(Override, ReplyShowsFourStatusBits)
{
    EXPECT_EQ(fromController("4F 0F"),
              " QMR5V :  4F 0F\n"
              "   => Inst 0x4F=Override Origin/End\n"
              "     RET=0x0F\n"
              "       .0=1\t-> override = do not use the ORIGIN/END switches\n"
              "       .1=1\t-> current table is configured to use the ORIGIN/END switches\n"
              "       .2=1\t-> ORIGIN contact open\n"
              "       .3=1\t-> END contact open\n");
    EXPECT_EQ(fromController("4F F0"),
              " QMR5V :  4F F0\n"
              "   => Inst 0x4F=Override Origin/End\n"
              "     RET=0xF0\n"
              "       .0=0\t-> no override = use the ORIGIN/END switches\n"
              "       .1=0\t-> current table does not support the use of the switches\n"
              "       .2=0\t-> ORIGIN contact close\n"
              "       .3=0\t-> END contact close\n");
}

TEST(Override, Commands)
{
    const std::string head = "   => Inst 0x4F=Override Origin/End\n";
    EXPECT_EQ(fromPc("4F 01"), "PC     :  4F 01\n" + head + "     CMD=0x01\t-> Override=move without taking care of the switches\n");
    EXPECT_EQ(fromPc("4F 03"), "PC     :  4F 03\n" + head + "     CMD=0x03\t-> ERROR: Unknown command\n");
}

TEST(Pwm, ValueAndItsTruncatedPercentage)
{
    const std::string head = "   => Inst 0x50=PWM\n     CMD=0x00\t-> PWM off\n";
    EXPECT_EQ(fromPc("50 00 FF"), "PC     :  50 00 FF\n" + head + "     VAL=0xFF\t-> 255 => 100%\n");
    EXPECT_EQ(fromPc("50 00 80"), "PC     :  50 00 80\n" + head + "     VAL=0x80\t-> 128 => 50%\n");
    EXPECT_EQ(fromPc("50 00 03"), "PC     :  50 00 03\n" + head + "     VAL=0x03\t-> 3 => 1%\n");
    EXPECT_EQ(fromPc("50 00 02"), "PC     :  50 00 02\n" + head + "     VAL=0x02\t-> 2 => 0%\n");
}

TEST(Pwm, StatusAndUnknownCommandsReadNoValue)
{
    const std::string head = "   => Inst 0x50=PWM\n";
    EXPECT_EQ(fromPc("50 02 80"), "PC     :  50 02 80\n" + head + "     CMD=0x02\t-> Get status\n");
    EXPECT_EQ(fromPc("50 03 80"), "PC     :  50 03 80\n" + head + "     CMD=0x03\t-> ERROR: Unknown command\n");
}

TEST(Pwm, ReplyWithUnknownStateStillShowsModeAndValues)
{
    EXPECT_EQ(fromController("50 05 02 80 0A"),
              " QMR5V :  50 05 02 80 0A\n"
              "   => Inst 0x50=PWM\n"
              "     ST=0x05\t-> ERROR: Unknown status\n"
              "     AMO=0x02\n"
              "       .0=0\t-> Mode manual\n"
              "       .1=1\t-> PWM_ON/OFF in position ON\n"
              "     PWMA=0x80\t-> 128 => 50%\n"
              "     PWMM=0x0A\t-> 10 => 3%\n");
    EXPECT_EQ(fromController("50 01 01 FE 00"),
              " QMR5V :  50 01 01 FE 00\n"
              "   => Inst 0x50=PWM\n"
              "     ST=0x01\t-> PWM on\n"
              "     AMO=0x01\n"
              "       .0=1\t-> Mode auto\n"
              "       .1=0\t-> PWM_ON/OFF in position OFF\n"
              "     PWMA=0xFE\t-> 254 => 99%\n"
              "     PWMM=0x00\t-> 0 => 0%\n");
}
