// The Data message and the controller's status replies (to Data and to
// Information) in the full-details report.
#include <gtest/gtest.h>

#include "capture_builder.h"

namespace vornlog {
namespace {

using testing::fromController;
using testing::fromPc;

using testing::controllerEcho;
using testing::pcEcho;

// ---- Data message (PC) ----

TEST(DataMessage, FullMessageWithPwmAndAcceleration)
{
    const std::string field =
        "44 61 E8 03 00 00 64 00 00 00 32 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 80 0A 0C C8 00 00 00";
    EXPECT_EQ(fromPc(field),
              pcEcho(field) +
                  "   => Inst 0x44=Data\n"
                  "     CMD=0x61\n"
                  "       .1=0\t-> S2 reversed\n"
                  "       .2=0\t-> S3 reversed\n"
                  "       .3=0\t-> S4 reversed\n"
                  "       .4=0\t-> S5 reversed\n"
                  "       .5=1\t-> Acceleration information is present\n"
                  "       .6=1\t-> PWM information is present\n"
                  "     NBR=0x000003E8 -> 1000 pulses\n"
                  "     S1=0x00000064 -> 50 steps\n"
                  "     S2=0x00000032 -> 25 steps\n"
                  "     S3=0x00000000 -> 0 steps\n"
                  "     S4=0x00000000 -> 0 steps\n"
                  "     S5=0x00000000 -> 0 steps\n"
                  "     PWM=0x80\t-> 128 => 50%\n"
                  "     F_ACC=0x0A=10\n"
                  "     F_DEC=0x0C=12\n"
                  "     NBR_DEC=0x000000C8 -> 200 pulses\n");
}

TEST(DataMessage, EndOfDataDecodesNothingAfterCmd)
{
    for (const std::string cmd : {"80", "FF"}) {
        const std::string field = "44 " + cmd + " E8 03 00 00 64 00 00 00 32 00 00 00 00 00 00 00";
        EXPECT_EQ(fromPc(field),
                  pcEcho(field) + "   => Inst 0x44=Data\n" + "     CMD=0x" + cmd + "\n" +
                      "       .7=1\t-> End of data\n")
            << "CMD " << cmd;
    }
}

// No direction or presence line; the steps are halves truncated toward zero
// and keep their sign whatever the direction bits say; bytes after S5 are
// not read.
TEST(DataMessage, AxesOnlyWithNegativeAndOddValues)
{
    const std::string field =
        "44 1F FF FF FF FF FF FF FF FF FD FF FF FF 07 00 00 00 F9 FF FF FF 01 00 00 80 80 0A 0C";
    EXPECT_EQ(fromPc(field),
              pcEcho(field) +
                  "   => Inst 0x44=Data\n"
                  "     CMD=0x1F\n"
                  "     NBR=0xFFFFFFFF -> -1 pulses\n"
                  "     S1=0xFFFFFFFF -> 0 steps\n"
                  "     S2=0xFFFFFFFD -> -1 steps\n"
                  "     S3=0x00000007 -> 3 steps\n"
                  "     S4=0xFFFFFFF9 -> -3 steps\n"
                  "     S5=0x80000001 -> -1073741823 steps\n");
}

// Without the PWM byte the acceleration group starts at byte 26.
TEST(DataMessage, AccelerationGroupWithoutPwm)
{
    const std::string field =
        "44 20 64 00 00 00 02 00 00 00 04 00 00 00 06 00 00 00 08 00 00 00 0A 00 00 00 05 06 10 27 00 00";
    EXPECT_EQ(fromPc(field),
              pcEcho(field) +
                  "   => Inst 0x44=Data\n"
                  "     CMD=0x20\n"
                  "       .0=0\t-> S1 reversed\n"
                  "       .1=0\t-> S2 reversed\n"
                  "       .2=0\t-> S3 reversed\n"
                  "       .3=0\t-> S4 reversed\n"
                  "       .4=0\t-> S5 reversed\n"
                  "       .5=1\t-> Acceleration information is present\n"
                  "     NBR=0x00000064 -> 100 pulses\n"
                  "     S1=0x00000002 -> 1 steps\n"
                  "     S2=0x00000004 -> 2 steps\n"
                  "     S3=0x00000006 -> 3 steps\n"
                  "     S4=0x00000008 -> 4 steps\n"
                  "     S5=0x0000000A -> 5 steps\n"
                  "     F_ACC=0x05=5\n"
                  "     F_DEC=0x06=6\n"
                  "     NBR_DEC=0x00002710 -> 10000 pulses\n");
}

TEST(DataMessage, PwmWithoutAcceleration)
{
    const std::string field =
        "44 5E 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 FF 0A 0C";
    EXPECT_EQ(fromPc(field),
              pcEcho(field) +
                  "   => Inst 0x44=Data\n"
                  "     CMD=0x5E\n"
                  "       .0=0\t-> S1 reversed\n"
                  "       .6=1\t-> PWM information is present\n"
                  "     NBR=0x00000000 -> 0 pulses\n"
                  "     S1=0x00000000 -> 0 steps\n"
                  "     S2=0x00000000 -> 0 steps\n"
                  "     S3=0x00000000 -> 0 steps\n"
                  "     S4=0x00000000 -> 0 steps\n"
                  "     S5=0x00000000 -> 0 steps\n"
                  "     PWM=0xFF\t-> 255 => 100%\n");
}

// ---- Status replies (controller 0x44 and 0x49) ----

// A status block with every bit field at rest: BUF 3, SEG 261, FLAG 0,
// INPUT 0x08, PWMA 128, PWMM 255, KEYB 0, STOP 0, NBR 10000.
const std::string kRestingBlock = "03 05 01 00 00 08 80 FF 00 00 10 27 00 00";
const std::string kRestingBlockLines =
    "     BUF=0x03\t-> Buffer 42%\n"
    "     SEG=0x000105\t-> segment number being processed:261\n"
    "     FLAG=0x00\n"
    "       .0=0\t-> No steps in progress\n"
    "       .1=0\t-> No stop pending\n"
    "       .3=0\t-> Source:Flash\n"
    "       .4=0\t-> PWM:off\n"
    "       .5=0\t-> Origin/End override:disabled\n"
    "       .6=0\t-> Motors off\n"
    "       .7=0\t-> Origin/End reversed:disabled\n"
    "     INPUT=0x08\n"
    "       .0=0\t-> PWM:manual\n"
    "       .1=0\t-> Axis limits:close\n"
    "       .2=0\t-> Tool sensor:close\n"
    "       .3=1\t-> PWM_ON/OFF:off\n"
    "       .4=0\t-> IO1:0V\n"
    "       .5=0\t-> Prog/Stop:close\n"
    "     PWMA=0x80\t-> 128 => 50%\n"
    "     PWMM=0xFF\t-> 255 => 100%\n"
    "     KEYB=0x00\n"
    "       .2=0\t-> Keyboard detected\n"
    "     STOP=0x00\n"
    "       .1=0\t-> Step activity running\n"
    "       .2=0\t-> No stop command has been received\n"
    "     NBR=0x00002710 -> 10000 pulses left for the current segment\n";

struct StatusCase {
    const char* codeAndSt;
    const char* lines; // instruction line and ST line
};

TEST(StatusReply, StatusLineByReplyThenTheWholeBlock)
{
    const StatusCase cases[] = {
        {"44 00", "   => Inst 0x44=Data\n     ST=0x00\t-> Error not in USB mode\n"},
        {"44 01", "   => Inst 0x44=Data\n     ST=0x01\t-> Data stored in Buffer\n"},
        {"44 FF", "   => Inst 0x44=Data\n     ST=0xFF\t-> Buffer full, data not stored\n"},
        {"44 02", "   => Inst 0x44=Data\n     ST=0x02\t-> ERROR: Unknown status\n"},
        {"49 00", "   => Inst 0x49=Information\n     ST=0x00\t-> Buffer not full\n"},
        {"49 01", "   => Inst 0x49=Information\n     ST=0xFF\t-> Buffer full\n"},
        {"49 FF", "   => Inst 0x49=Information\n     ST=0xFF\t-> Buffer full\n"},
    };
    for (const StatusCase& c : cases) {
        const std::string field = std::string(c.codeAndSt) + " " + kRestingBlock;
        EXPECT_EQ(fromController(field), controllerEcho(field) + c.lines + kRestingBlockLines)
            << c.codeAndSt;
    }
}

// Every bit set, BUF beyond 7 sevenths, SEG at its 24-bit top (unsigned),
// NBR negative.
TEST(StatusReply, EveryBitSet)
{
    const std::string field = "44 01 08 FF FF FF FF FF 02 00 FF FF FF FF FF FF";
    EXPECT_EQ(fromController(field),
              controllerEcho(field) +
                  "   => Inst 0x44=Data\n"
                  "     ST=0x01\t-> Data stored in Buffer\n"
                  "     BUF=0x08\t-> Buffer 114%\n"
                  "     SEG=0xFFFFFF\t-> segment number being processed:16777215\n"
                  "     FLAG=0xFF\n"
                  "       .0=1\t-> Steps in progress\n"
                  "       .1=1\t-> Stop is pending\n"
                  "       .3=1\t-> Source:USB\n"
                  "       .4=1\t-> PWM:on\n"
                  "       .5=1\t-> Origin/End override:enabled\n"
                  "       .6=1\t-> Motors on\n"
                  "       .7=1\t-> Origin/End reversed:enabled\n"
                  "     INPUT=0xFF\n"
                  "       .0=1\t-> PWM:auto\n"
                  "       .1=1\t-> Axis limits:open\n"
                  "       .2=1\t-> Tool sensor:open\n"
                  "       .3=1\t-> PWM_ON/OFF:off\n"
                  "       .4=1\t-> IO1:5V\n"
                  "       .5=1\t-> Prog/Stop:open\n"
                  "     PWMA=0x02\t-> 2 => 0%\n"
                  "     PWMM=0x00\t-> 0 => 0%\n"
                  "     KEYB=0xFF\n"
                  "       .0=1\t-> ESC\n"
                  "       .1=1\t-> OK\n"
                  "       .2=1\t-> Keyboard not detected\n"
                  "       .4=1\t-> LEFT\n"
                  "       .5=1\t-> DOWN\n"
                  "       .6=1\t-> UP\n"
                  "       .7=1\t-> RIGHT\n"
                  "     STOP=0xFF\n"
                  "       .1=1\t-> Step activity stopped\n"
                  "       .2=1\t-> Stop command has been received\n"
                  "       .4=1\t-> Stop is due to an axis limit switch\n"
                  "       .5=1\t-> Stop is due to a sensor switch\n"
                  "       .6=1\t-> Stop is due to PROG/STOP button\n"
                  "       .7=1\t-> Stop is due to end of data processed from the buffer\n"
                  "     NBR=0xFFFFFFFF -> -1 pulses left for the current segment\n");
}

} // namespace
} // namespace vornlog
