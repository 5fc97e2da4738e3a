// Buffer Management, Information and Stop in the full-details report.
#include <gtest/gtest.h>

#include "capture_builder.h"

namespace vornlog {
namespace {

using testing::fromController;
using testing::fromPc;

using testing::controllerEcho;
using testing::pcEcho;

struct Case {
    const char* field;
    const char* lines; // everything after the echo line
};

void expectPc(const Case& c)
{
    EXPECT_EQ(fromPc(c.field), pcEcho(c.field) + c.lines) << c.field;
}

void expectController(const Case& c)
{
    EXPECT_EQ(fromController(c.field), controllerEcho(c.field) + c.lines) << c.field;
}

TEST(BufferManagement, Commands)
{
    const Case cases[] = {
        {"42 00", "   => Inst 0x42=Buffer Management\n     CMD=0x00\t-> Reset\n"},
        {"42 01", "   => Inst 0x42=Buffer Management\n     CMD=0x01\t-> Source USB\n"},
        {"42 80", "   => Inst 0x42=Buffer Management\n     CMD=0x80\t-> Execute\n"},
        // An unknown command ends the message, whatever follows it.
        {"42 81 05 20 00", "   => Inst 0x42=Buffer Management\n     CMD=0x81\t-> ERROR: Unknown command\n"},
        {"42 03 05 20 00", "   => Inst 0x42=Buffer Management\n     CMD=0x03\t-> ERROR: Unknown command\n"},
    };
    for (const Case& c : cases) expectPc(c);
}

// Only the flash source carries a block and a little-endian address.
TEST(BufferManagement, SourceFlashWithBlockAndAddress)
{
    const Case cases[] = {
        {"42 02 05 20 00",
         "   => Inst 0x42=Buffer Management\n     CMD=0x02\t-> Source Flash\n     BCK=0x05\n     ADR=0x0020\n"},
        {"42 02 A1 34 12",
         "   => Inst 0x42=Buffer Management\n     CMD=0x02\t-> Source Flash\n     BCK=0xA1\n     ADR=0x1234\n"},
    };
    for (const Case& c : cases) expectPc(c);
}

// Any result but 0 is OK and shown as 0xFF.
TEST(BufferManagement, Replies)
{
    const Case cases[] = {
        {"42 00", "   => Inst 0x42=Buffer Management\n     RET=0x00\t-> ERROR: Unknown command\n"},
        {"42 01", "   => Inst 0x42=Buffer Management\n     RET=0xFF\t-> OK\n"},
        {"42 FF", "   => Inst 0x42=Buffer Management\n     RET=0xFF\t-> OK\n"},
    };
    for (const Case& c : cases) expectController(c);
}

TEST(Information, RequestReadsNothingAfterTheCode)
{
    expectPc({"49", "   => Inst 0x49=Information\n     No paramters\n"});
    expectPc({"49 01 FF 44 01", "   => Inst 0x49=Information\n     No paramters\n"});
}

TEST(Stop, Commands)
{
    const Case cases[] = {
        {"53 00", "   => Inst 0x53=Stop\n     CMD=0x00\t-> Fast stop\n"},
        {"53 01", "   => Inst 0x53=Stop\n     CMD=0x01\t-> Slow stop\n"},
        {"53 02", "   => Inst 0x53=Stop\n     CMD=0x02\t-> ERROR: Unknown command\n"},
        {"53 03", "   => Inst 0x53=Stop\n     CMD=0x03\t-> Get status\n"},
        {"53 80", "   => Inst 0x53=Stop\n     CMD=0x80\t-> ERROR: Unknown command\n"},
    };
    for (const Case& c : cases) expectPc(c);
}

TEST(Stop, ReplyStopStateSegmentAndPulsesLeft)
{
    const Case cases[] = {
        {"53 96 05 01 00 10 27 00 00",
         "   => Inst 0x53=Stop\n"
         "     RET=0x96\n"
         "       .1=1\t-> Step activity stopped\n"
         "       .2=1\t-> Stop command has been received\n"
         "       .4=1\t-> Stop is due to an axis limit switch\n"
         "       .7=1\t-> Stop is due to end of data processed from the buffer\n"
         "     SEG=0x000105\t-> segment number being processed:261\n"
         "     NBR=0x00002710 -> 10000 pulses left for the current segment\n"},
        {"53 00 2A 00 00 9C FF FF FF",
         "   => Inst 0x53=Stop\n"
         "     RET=0x00\n"
         "       .1=0\t-> Step activity running\n"
         "       .2=0\t-> No stop command has been received\n"
         "     SEG=0x00002A\t-> segment number being processed:42\n"
         "     NBR=0xFFFFFF9C -> -100 pulses left for the current segment\n"},
        {"53 69 00 00 00 00 00 00 00",
         "   => Inst 0x53=Stop\n"
         "     RET=0x69\n"
         "       .1=0\t-> Step activity running\n"
         "       .2=0\t-> No stop command has been received\n"
         "       .5=1\t-> Stop is due to a sensor switch\n"
         "       .6=1\t-> Stop is due to PROG/STOP button\n"
         "     SEG=0x000000\t-> segment number being processed:0\n"
         "     NBR=0x00000000 -> 0 pulses left for the current segment\n"},
        // Cut after byte 7: the last byte of NBR reads as 0.
        {"53 02 10 27 00 00 FF FF",
         "   => Inst 0x53=Stop\n"
         "     RET=0x02\n"
         "       .1=1\t-> Step activity stopped\n"
         "       .2=0\t-> No stop command has been received\n"
         "     SEG=0x002710\t-> segment number being processed:10000\n"
         "     NBR=0x00FFFF00 -> 16776960 pulses left for the current segment\n"},
    };
    for (const Case& c : cases) expectController(c);
}

} // namespace
} // namespace vornlog
