// The session summary of crafted captures whose counts are known.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "capture.h"
#include "lines.h"
#include "out.h"
#include "progress.h"
#include "report.h"
#include "source.h"
#include "summary.h"

using namespace vornlog;

namespace {

// A capture line: number, OUT or IN, time, byte count, hex pairs and a
// sixth column that keeps short messages over the length filter.
std::string line(int n, bool pc, std::string_view time, std::string_view hex)
{
    std::string s = std::to_string(n) + (pc ? "\tOUT\t" : "\tIN\t") + std::string(time) + "\t" +
                    std::to_string((hex.size() + 1) / 3) + "\t" + std::string(hex) + "\tcaptured by the USB monitor of the PC\n";
    return s;
}
std::string pc(int n, std::string_view hex, std::string_view time = "-") { return line(n, true, time, hex); }
std::string qmr(int n, std::string_view hex, std::string_view time = "-") { return line(n, false, time, hex); }

std::string hex32(std::int32_t v)
{
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (int k = 0; k < 4; ++k) {
        const unsigned b = (static_cast<std::uint32_t>(v) >> (8 * k)) & 0xFF;
        s += ' ';
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

// A Data message of CMD, NBR, S1 and S2 (S3 to S5 zero).
std::string data(const char* cmd, std::int32_t nbr, std::int32_t s1, std::int32_t s2)
{
    return std::string("44 ") + cmd + hex32(nbr) + hex32(s1) + hex32(s2) + hex32(0) + hex32(0) + hex32(0);
}

// A controller Data (or Information) reply: ST, BUF, SEG, then STOP.
std::string reply(const char* code, const char* st, const char* buf, const char* seg, const char* stop)
{
    return std::string(code) + " " + st + " " + buf + " " + seg + " 59 2B C0 00 04 " + stop + " 00 00 00 00";
}

std::string summarize(const std::string& capture)
{
    LineReader lines(capture);
    TextDumpSource in(lines);
    std::string text, console;
    {
        Out out(&text);
        Out con(&console);
        Progress progress(con);
        writeSummary(in, "crafted.txt", out, progress);
    }
    return text;
}

// The lines of one section, from its title to the next section's.
std::string section(const std::string& summary, const std::string& title, const std::string& next = "")
{
    const std::size_t start = summary.find("\n" + title + "\n");
    if (start == std::string::npos) return "(no section " + title + ")";
    const std::size_t end = next.empty() ? summary.size() : summary.find("\n" + next + "\n", start);
    return summary.substr(start + 1, end - start - 1);
}

} // namespace

TEST(Summary, TellsPcMessagesWithoutReplyAndControllerMessagesThatAnswerNothing)
{
    const std::string capture = pc(1, "56") +            // Version: the next PC message comes first
                                pc(2, "4D 02") +         // Motors, answered by line 3
                                qmr(3, "4D 01 3C") +     //
                                qmr(4, "47 00 04") +     // IO1 reply, nothing asked
                                pc(5, "4C 05") +         // LCD, answered by line 7 ...
                                qmr(6, "42 FF") +        // ... after a Buffer Management reply that answers nothing
                                qmr(7, "4C 00") +        //
                                qmr(8, "4C 00") +        // a second LCD reply answers nothing
                                pc(9, "43 01") +         // an unknown code, last of the capture: no reply
                                qmr(10, "5A 00");        // Reset never comes from the controller: answers nothing
    EXPECT_EQ(section(summarize(capture), "Messages", "Errors"),
              "Messages\n"
              "--------\n"
              "  Code    Instruction                      PC    QMR5V   No reply  Answers nothing\n"
              "  0x42 B  Buffer Management                 0        1          0                1\n"
              "  0x43 C  (unknown instruction)             1        0          1                0\n"
              "  0x47 G  General input/output IO1          0        1          0                1\n"
              "  0x4C L  LCD                               1        2          0                1\n"
              "  0x4D M  Motors ON/OFF                     1        1          0                0\n"
              "  0x56 V  Version                           1        0          1                0\n"
              "  0x5A Z  Reset                             0        1          0                1\n"
              "  Total                                     4        6          2                4\n"
              "\n"
              "  PC messages without a reply (no controller message of their code before the next PC message): 2\n"
              "    0x43 C  (unknown instruction)             1  line 9\n"
              "    0x56 V  Version                           1  line 1\n"
              "  Controller messages that answer nothing: 4\n"
              "    0x42 B  Buffer Management                 1  line 6\n"
              "    0x47 G  General input/output IO1          1  line 4\n"
              "    0x4C L  LCD                               1  line 8\n"
              "    0x5A Z  Reset                             1  line 10\n");
}

TEST(Summary, CountsEveryErrorTextOfTheLcdDecoderAndOfTheFrameAsTheReportWritesThem)
{
    const std::string capture = pc(1, "4C 00 14 01 41") +   // POS 20: beyond the line
                                pc(2, "4C 01 00 15") +      // LEN 21: too long
                                pc(3, "4C 10 14 00") +      // POS 20 and LEN 0
                                pc(4, "4C 06 08 1F 1F 1F 1F 1F 1F 1F 1F") + // graphic character 8
                                pc(5, "4C 07") +            // no such command
                                qmr(6, "4C 02") +           // no such state
                                qmr(7, "4C 00") +           // fine
                                pc(8, "43 01") +            // no such instruction
                                qmr(9, "5A 00");            // Reset never comes from the controller
    EXPECT_EQ(section(summarize(capture), "Errors", "Motion stream"),
              "Errors\n"
              "------\n"
              "  Code    Instruction               From       Count   First line  Text\n"
              "  0x43 C  (unknown instruction)     PC             1            8  ERROR: Unknown instruction...\n"
              "  0x4C L  LCD                       PC             2            1  ERROR invalid value POS=0x?=?\n"
              "  0x4C L  LCD                       PC             2            2  ERROR invalid value LEN=0x?=?\n"
              "  0x4C L  LCD                       PC             1            4  ERROR invalid character hex code value=0x?=?\n"
              "  0x4C L  LCD                       PC             1            5  ERROR: Unknown command\n"
              "  0x4C L  LCD                       QMR5V          1            6  ERROR: Invalid status\n"
              "  0x5A Z  Reset                     QMR5V          1            9  ERROR: Unknown instruction...\n"
              "  Error texts in all                               9\n");

    // The report of the same capture writes exactly as many error texts.
    std::string report, console;
    {
        LineReader lines(capture);
        Out out(&report);
        Out con(&console);
        Progress progress(con);
        writeReport(lines, out, progress);
    }
    int errors = 0;
    for (std::size_t at = report.find("ERROR"); at != std::string::npos; at = report.find("ERROR", at + 1)) ++errors;
    EXPECT_EQ(errors, 9);
}

TEST(Summary, LeavesNoErrorObserverBehind)
{
    // The summary is gone after its run: a later report must not reach it.
    summarize(pc(1, "4C 07"));
    EXPECT_EQ(setErrorObserver(nullptr), nullptr);
}

TEST(Summary, FollowsTheMotionStreamThroughRefusedAndResentSegments)
{
    const std::string capture =
        qmr(1, reply("44", "01", "02", "01 00 00", "00")) + // stored, but no Data message came yet
        pc(2, data("1F", 100, 20, 0)) +                     // S1 10 steps forward
        qmr(3, reply("44", "FF", "07", "02 00 00", "00")) + // buffer full
        pc(4, data("1F", 100, 20, 0)) +                     // sent again
        qmr(5, reply("44", "01", "06", "03 00 00", "00")) + // stored
        pc(6, data("1E", 50, 8, 0)) +                       // S1 4 steps back
        qmr(7, reply("44", "00", "06", "03 00 00", "00")) + // not in USB mode
        pc(8, data("1C", 60, 8, 6)) +                       // another segment: S1 4 and S2 3 steps back
        qmr(9, reply("44", "02", "05", "04 00 00", "00")) + // a status without a meaning
        qmr(10, reply("44", "01", "05", "04 00 00", "00")) + // stored: the segment of line 8
        pc(11, "44 80") +                                    // end of data
        qmr(12, reply("44", "01", "04", "05 00 00", "80")) + // stored; the stream's end stops the motion
        pc(13, "53 00") + qmr(14, "53 10 05 00 00 00 00 00 00") + // fast stop; an axis limit switch
        pc(15, "53 02") + qmr(16, "53 10 05 00 00 00 00 00 00") + // no such command; the same stop
        pc(17, "49") + qmr(18, reply("49", "00", "03", "05 00 00", "40")) + // the PROG/STOP button
        pc(19, "53 03") + qmr(20, "53 50 05 00 00 00 00 00 00");  // a limit switch again
    EXPECT_EQ(section(summarize(capture), "Motion stream", "Timing"),
              "Motion stream\n"
              "-------------\n"
              "  Data messages sent                               5\n"
              "    end-of-data marks among them                   1\n"
              "  Data replies: stored                             3\n"
              "    buffer full, not stored                        1\n"
              "    not in USB mode                                1\n"
              "    another status                                 1\n"
              "  Stored before any Data message                   1\n"
              "  Segments resent after a refusal                  1\n"
              "  Segments stored                                  2\n"
              "  End-of-data marks stored                         1\n"
              "  Total pulses of the stored segments            160\n"
              "  Final position in steps                 S1 6  S2 -3  S3 0  S4 0  S5 0\n"
              "  Buffer fill (BUF of the replies)        least 2 (28%), mean 4.8 (67.9%), most 7 (100%), in 8 replies\n"
              "  Stop messages                                    3\n"
              "         1  Fast stop\n"
              "         1  CMD=0x02, no command\n"
              "         1  Get status\n"
              "  Stops reported by the controller                 4  (each counted when its bit turns to 1)\n"
              "         2  Stop is due to an axis limit switch\n"
              "         1  Stop is due to PROG/STOP button\n"
              "         1  Stop is due to end of data processed from the buffer\n");
}
