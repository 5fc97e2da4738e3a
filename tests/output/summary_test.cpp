// The session summary of crafted captures whose counts are known.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/findings.h"
#include "capture/capture.h"
#include "capture/source.h"
#include "capture_builder.h"
#include "base/out.h"
#include "output/report.h"
#include "output/summary.h"
#include "report_lines.h"
#include "output/progress.h"
#include "protocol/decode.h"
#include "protocol/lines.h"
#include "protocol/values.h"

using namespace vornlog;

namespace {

std::string pc(int n, std::string_view hex, std::string_view time = "-") { return vornlog::testing::captureLine(n, true, time, hex); }
std::string qmr(int n, std::string_view hex, std::string_view time = "-") { return vornlog::testing::captureLine(n, false, time, hex); }

// A Data message (CMD, NBR, S1, S2) and a controller Data or Information
// reply (code, ST, BUF, SEG, STOP).
const auto data = &vornlog::testing::dataMessage;
const auto reply = &vornlog::testing::dataReply;

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

std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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

// An error text that completes a field's line is listed after the field's
// head, as the report's line shows it.
TEST(Summary, CountsAnErrorThatCompletesAFieldsLineWithTheFieldsHead)
{
    const std::string capture =
        qmr(1, "54 03 01 4D 49 4C 4C 2D 33 41 58 04 08 0C 00 00 81 01 82 02 83 43 00 00 00 00 05 20 FF 1E 01 04 01");
    EXPECT_EQ(section(summarize(capture), "Errors", "Motion stream"),
              "Errors\n"
              "------\n"
              "  Code    Instruction               From       Count   First line  Text\n"
              "  0x54 T  TABLE                     QMR5V          1            1  SLOPE=0x? -> ERROR: Invalid value...\n"
              "  Error texts in all                               1\n");
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
              // The last status block still held both segments waiting.
              "  Position reached, estimated             S1 0  S2 0  S3 0  S4 0  S5 0\n"
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

TEST(Summary, ReadsEveryTimeFormOfTheThirdColumn)
{
    struct Case {
        const char* t0;
        const char* t1;
        const char* t2;
        const char* start;
        const char* end;
    };
    const Case cases[] = {
        {"14:02:11.521", "14:02:11.621", "14:02:12.021", "14:02:11.521", "14:02:12.021"},
        {"2026-11-30 23:59:59.900", "2026-12-01 00:00:00.000", "2026-12-01 00:00:00.400", "2026-11-30 23:59:59.900",
         "2026-12-01 00:00:00.400"},
        // February 29th of a leap year; "T" and a "Z" for UTC.
        {"2028-02-28T23:59:59.900Z", "2028-02-29T00:00:00.000Z", "2028-02-29T00:00:00.400Z",
         "2028-02-28 23:59:59.900", "2028-02-29 00:00:00.400"},
        {"12.345678", "12.445678", "12.845678", "12.345678 s", "12.845678 s"},
        // A time of day that passes midnight goes on counting the hours.
        {"23:59:59.800", "23:59:59.900", "00:00:00.300", "23:59:59.800", "24:00:00.300"},
    };
    for (const Case& c : cases) {
        const std::string capture =
            pc(1, "56", c.t0) + qmr(2, "56 51 4D 52 35 56 20 76 31 2E 30 32", c.t1) + pc(3, "49", c.t2);
        const std::string timing = section(summarize(capture), "Timing");
        EXPECT_EQ(timing.substr(0, timing.find("\n\n")),
                  std::string("Timing\n"
                              "------\n"
                              "  Start                                   ") + c.start + "\n"
                  "  End                                     " + c.end + "\n"
                  "  Duration                                0.500 s\n"
                  "  Messages per second                     6.0")
            << c.t0;
        EXPECT_NE(timing.find("  0x56 V  Version                           1    100.000    100.000    100.000    100.000\n"),
                  std::string::npos)
            << timing;
    }

    // A third column that is no time (a dash, a count without a decimal
    // point, a clock out of range, a date too far from 1970 to count in
    // nanoseconds, a day the month does not have) gives no times.
    for (const char* none : {"-", "8", "25:00:00.000", "2026-13-01 10:00:00", "1142-11-30 14:02:11.521",
                             "2026-02-31 10:00:00.000", "2026-02-29 10:00:00.000", "2026-04-31T10:00:00Z",
                             "14:02:11.521Z"}) {
        const std::string capture = pc(1, "56", none) + qmr(2, "56 51 4D 52 35 56 20 76 31 2E 30 32", none);
        EXPECT_EQ(section(summarize(capture), "Timing"), "Timing\n------\n  The capture has no times.\n") << none;
    }
}

TEST(Summary, ReplyTimePercentilesAndTheLongestGapsOfTheDataStream)
{
    // Twenty Data messages 100 ms apart, with longer gaps after the 3rd
    // (150 ms), the 7th (1 s) and the 12th (500 ms); the i-th reply comes
    // after i ms.
    auto seconds = [](std::int64_t us) {
        std::string frac = std::to_string(us % 1000000);
        return std::to_string(us / 1000000) + "." + std::string(6 - frac.size(), '0') + frac;
    };
    std::string capture;
    std::int64_t t = 100'000'000;
    for (int i = 1; i <= 20; ++i) {
        capture += pc(2 * i - 1, data("1F", 10, 2, 2), seconds(t));
        capture += qmr(2 * i, reply("44", "01", "03", "01 00 00", "00"), seconds(t + i * 1000));
        t += 100'000 + (i == 3 ? 50'000 : 0) + (i == 7 ? 900'000 : 0) + (i == 12 ? 400'000 : 0);
    }
    // A code whose controller messages decode as no instruction is timed
    // too (the findings keep the times of the others).
    capture += pc(41, "5A 55 AA 00", seconds(t));
    capture += qmr(42, "5A 01", seconds(t + 7000));
    const std::string timing = section(summarize(capture), "Timing");
    EXPECT_NE(timing.find("  0x44 D  Data                             20      1.000     10.000     19.000     20.000\n"),
              std::string::npos)
        << timing;
    EXPECT_NE(timing.find("  0x5A Z  Reset                             1      7.000      7.000      7.000      7.000\n"),
              std::string::npos)
        << timing;
    EXPECT_NE(timing.find("  Longest gaps between one Data message and the next\n"
                          "        1000.000 ms  lines 13 to 15\n"
                          "         500.000 ms  lines 23 to 25\n"
                          "         150.000 ms  lines 5 to 7\n"
                          "         100.000 ms  lines 1 to 3\n"
                          "         100.000 ms  lines 3 to 5\n"),
              std::string::npos)
        << timing;
}

TEST(Summary, ReplyTimeColumnsWidenForTimesOfTenMillionMilliseconds)
{
    // Replies after 1 ms and after 10,000 s (10,000,000.000 ms): every cell
    // stays apart, and the heading's columns end where the row's do.
    std::string capture = pc(1, data("1F", 10, 2, 2), "100.000000") + qmr(2, reply("44", "01", "03", "01 00 00", "00"), "100.001000");
    capture += pc(3, data("1F", 10, 2, 2), "200.000000") + qmr(4, reply("44", "01", "03", "01 00 00", "00"), "10200.000000");
    const std::string timing = section(summarize(capture), "Timing");
    const std::size_t at = timing.find("  0x44 D  Data");
    ASSERT_NE(at, std::string::npos) << timing;
    const std::string row = timing.substr(at, timing.find('\n', at) - at);
    std::vector<std::string> cells;
    for (std::size_t i = 0; i < row.size();) {
        const std::size_t start = row.find_first_not_of(' ', i);
        if (start == std::string::npos) break;
        const std::size_t end = std::min(row.find(' ', start), row.size());
        cells.push_back(row.substr(start, end - start));
        i = end;
    }
    ASSERT_EQ(cells.size(), 8u) << row;
    EXPECT_EQ(cells[3], "2");
    EXPECT_EQ(cells[4], "1.000");
    EXPECT_EQ(cells[7], "10000000.000");
    const std::size_t head = timing.find("  Code");
    const std::string heading = timing.substr(head, timing.find('\n', head) - head);
    EXPECT_EQ(heading.size(), row.size()) << heading << "\n" << row;
}

TEST(Summary, CountsTheMessagesOnShortLinesAndTheLinesPassedOver)
{
    const std::string capture = "1\tOUT\t0\t1\t56\n"     // a Version request, too short for the report
                                "2\tIN\t0\t1\t56\n"      // and its reply
                                "3\tOUT\t0\t0\t\n"        // no hex pair: no message
                                "a line longer than forty characters, without any tab\n" +
                                pc(5, "56");
    EXPECT_EQ(section(summarize(capture), "Capture", "Findings"),
              "Capture\n"
              "-------\n"
              "  File                                    crafted.txt\n"
              "  Format                                  text dump\n"
              "  Lines read                                       5\n"
              "  Messages decoded                                 3\n"
              "    on lines of 40 characters or fewer             2  lines 1, 2\n"
              "  Lines passed over                                2\n"
              "    40 characters or fewer                         1\n"
              "      of them with OUT or IN                       1  line 3\n"
              "    without a data field                           1\n"
              "  Note: 2 messages sit on lines of 40 characters or fewer: the report and the steps CSV pass them over,"
              " this summary counts them.\n");
}

namespace {

// Packets of a USB capture file as its reader hands them on: numbered,
// timed, without capture lines; the file ends damaged.
class Packets final : public MessageSource {
public:
    bool next(CaptureRecord& record) override
    {
        static constexpr std::int64_t kStart = 1'700'000'000'000'000'000; // 2023-11-14 22:13:20 UTC
        struct Packet {
            bool message;
            Direction direction;
            std::string_view field;
            std::int64_t afterNs;
        };
        static constexpr Packet kPackets[] = {
            {false, Direction::Controller, "", 0},       // another device
            {true, Direction::Pc, "56", 1'000'000},
            {true, Direction::Controller, "56 51 4D 52 35 56 20 76 31 2E 30 32", 3'500'000},
        };
        if (n_ == std::size(kPackets)) return false;
        const Packet& p = kPackets[n_++];
        record = CaptureRecord{};
        record.number = n_;
        record.isMessage = p.message;
        record.direction = p.direction;
        record.field = p.field;
        record.hasTime = true;
        record.timeForm = TimeForm::Packet;
        record.timeNs = kStart + p.afterNs;
        return true;
    }
    bool readError() const override { return false; }
    std::string fault() const override { return "a packet cut short at byte 4096"; }
    std::string_view format() const override { return "pcapng"; }

private:
    std::size_t n_ = 0;
};

} // namespace

TEST(Summary, CountsPacketsAndReadsTheirTimestampsInAUsbCaptureFile)
{
    Packets in;
    std::string text, console;
    {
        Out out(&text);
        Out con(&console);
        Progress progress(con);
        writeSummary(in, "session.pcapng", out, progress);
    }
    EXPECT_EQ(section(text, "Capture", "Findings"),
              "Capture\n"
              "-------\n"
              "  File                                    session.pcapng\n"
              "  Format                                  pcapng\n"
              "  Packets read                                     3\n"
              "  Messages decoded                                 2\n"
              "  Packets without a message                        1\n"
              "  Reading stopped                         a packet cut short at byte 4096\n");
    const std::string timing = section(text, "Timing");
    EXPECT_EQ(timing.substr(0, timing.find("\n\n")),
              "Timing\n"
              "------\n"
              "  Start                                   2023-11-14 22:13:20.000000 UTC\n"
              "  End                                     2023-11-14 22:13:20.003500 UTC\n"
              "  Duration                                0.003 s\n"
              "  Messages per second                     571.4");
    EXPECT_NE(timing.find("  0x56 V  Version                           1      2.500      2.500      2.500      2.500\n"),
              std::string::npos)
        << timing;
}

// A caller that decodes each message once (the viewer) feeds the summary
// its own findings engine's results: the summary says what it says with
// an engine of its own, findings included, on real sessions.
TEST(Summary, ReadFromItsOwnersEngineItSaysWhatItsOwnEngineSays)
{
    const std::string session = fileText(std::string(VORNLOG_SOURCE_DIR) + "/examples/session.txt");
    // (Cut after its stop's reply: the stop is still open at the end.)
    std::size_t cut = 0;
    for (int line = 0; line < 64 && cut != std::string::npos; ++line) cut = session.find('\n', cut) + 1;
    for (const std::string& capture :
         {session, fileText(std::string(VORNLOG_SOURCE_DIR) + "/examples/stall.txt"), session.substr(0, cut)}) {
        SCOPED_TRACE(capture.size());
        ASSERT_FALSE(capture.empty());

        LineReader lines(capture);
        TextDumpSource in(lines);
        in.readTimes();
        ValueSink values;
        std::optional<SessionSummary> summary;
        findings::Engine engine(true, false, [&](const findings::Finding& f) { summary->found(f); });
        summary.emplace(in, engine);
        CaptureRecord record;
        while (in.next(record)) {
            if (record.isMessage) {
                decodeMessage(record.direction, record.field, values);
                engine.feed(record, values);
            }
            summary->feed(record, values);
        }
        summary->engineFinished(engine.finish());
        std::string shared;
        {
            Out out(&shared);
            summary->write(in, "crafted.txt", out);
        }
        EXPECT_EQ(shared, summarize(capture));
        EXPECT_NE(shared.find("Findings"), std::string::npos);
        if (capture.size() < session.size()) {
            EXPECT_NE(shared.find("still open at the end"), std::string::npos) << shared;
        }
    }
}
