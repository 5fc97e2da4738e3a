// Captures as they come from the field, broken in every way a capture can
// be: the program must finish with status 0, count the capture lines on
// the console, and write a report in which every line that holds a message
// has its echo line followed by its decoded lines, and a steps CSV of
// well-formed rows. Inputs are made here, at run time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "../fuzz/capture_reference.h"
#include "harness.h"

using e2e::Result;
using e2e::Sandbox;
using namespace std::string_literals;
namespace reference = vornlog::reference;

namespace {

const std::string kBanner = "Vornlog (rel. 0.04)\n";
// The console of these runs is a file: it gets the progress line every
// 16384 lines and the last line's number.
constexpr std::size_t kProgressEvery = 16384;
const std::string kCsvHeader = "Cur_seg;Buffer;Nbr pulse;S1;S2;S3;S4;S5;PWM;F_ACC;F_DEC;Nbr dec\n";
const std::vector<int> kInstructions = {0x42, 0x44, 0x46, 0x47, 0x49, 0x4C, 0x4D, 0x4F, 0x50, 0x53, 0x54, 0x56, 0x5A};

class Noise {
public:
    explicit Noise(std::uint32_t seed) : state_(seed) {}
    std::uint32_t next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }

private:
    std::uint32_t state_;
};

std::string hexBytes(const std::vector<int>& bytes)
{
    std::string s;
    char pair[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(pair, sizeof pair, i ? " %02X" : "%02X", bytes[i]);
        s += pair;
    }
    return s;
}

// The report of `capture`: each message's echo line, then its decoded
// lines (an instruction line first), up to the next message's echo line.
void expectReportReflects(const Sandbox& box, const std::string& capture)
{
    const std::vector<std::string> lines = reference::captureLines(capture);
    const Result r = box.run({"dump.txt", "report.txt"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.out, kBanner + reference::progressText(lines.size(), kProgressEvery) + "\n\nDone");

    std::vector<std::string> echoes;
    for (const std::string& line : lines)
        if (std::string echo = reference::echoLine(line); !echo.empty()) echoes.push_back(std::move(echo));
    const std::string report = box.read("report.txt");
    std::size_t pos = 0;
    for (std::size_t k = 0; k < echoes.size(); ++k) {
        ASSERT_EQ(report.compare(pos, echoes[k].size(), echoes[k]), 0) << "message " << k << " has no echo line";
        pos += echoes[k].size();
        ASSERT_EQ(report.compare(pos, 6, "   => "), 0) << "message " << k << " has no instruction line";
        const std::size_t next = k + 1 < echoes.size() ? report.find(echoes[k + 1], pos) : report.size();
        ASSERT_NE(next, std::string::npos) << "message " << k + 1 << " is missing";
        ASSERT_EQ(report[next - 1], '\n') << "message " << k << " ends inside a line";
        pos = next;
    }
    EXPECT_EQ(pos, report.size());
}

// The steps CSV of `capture`: its header, then rows of 12 fields or
// end-of-data rows of 2.
void expectCsvWellFormed(const Sandbox& box, const std::string& capture)
{
    const std::size_t count = reference::captureLines(capture).size();
    const Result r = box.run({"-s", "dump.txt", "steps.csv"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.out, kBanner + "\n" + reference::progressText(count, kProgressEvery) + "\n\nDone");
    const std::string csv = box.read("steps.csv");
    ASSERT_EQ(csv.compare(0, kCsvHeader.size(), kCsvHeader), 0);
    std::size_t pos = kCsvHeader.size();
    while (pos < csv.size()) {
        const std::size_t nl = csv.find('\n', pos);
        ASSERT_NE(nl, std::string::npos) << "the CSV ends inside a row";
        const std::string row = csv.substr(pos, nl - pos);
        const auto fields = std::count(row.begin(), row.end(), ';') + 1;
        EXPECT_TRUE(fields == 12 || (fields == 2 && row.back() == '-')) << row;
        pos = nl + 1;
    }
}

void expectBothModes(const std::string& capture)
{
    Sandbox box;
    box.write("dump.txt", capture);
    expectReportReflects(box, capture);
    expectCsvWellFormed(box, capture);
}

} // namespace

TEST(BadInput, EmptyAndShortCapturesWriteNoMessage)
{
    expectBothModes("");
    // Every length from 0 to 40, tabs and hex pairs in place: all skipped.
    const std::string full = "12\tOUT\t00:00:01.250\t33\t44 61 E8 03 00 00 64 00";
    std::string capture;
    for (std::size_t n = 0; n <= 40; ++n) capture += full.substr(0, n - (n > 0)) + (n ? "\n" : "");
    capture += full.substr(0, 39) + "\r\n"; // 41 bytes, 40 characters once "\r\n" is folded
    expectBothModes(capture);
    Sandbox box;
    box.write("dump.txt", capture);
    EXPECT_EQ(box.run({"dump.txt", "report.txt"}).status, 0);
    EXPECT_EQ(box.read("report.txt"), "");
}

TEST(BadInput, BinaryNoiseIsReadLineByLine)
{
    Noise noise(12345);
    std::string bytes;
    for (int i = 0; i < 200000; ++i) bytes += static_cast<char>(noise.next());
    expectBothModes(bytes);

    // Noise shaped like a capture: tabs, line ends of every kind, hex digits.
    static const std::string kAlphabet = "\t\t\t\n\r\r\n0123456789ABCDEFabcdef OIN\x00\xFF\x7F%";
    std::string shaped;
    for (int i = 0; i < 200000; ++i) {
        const std::uint32_t v = noise.next();
        shaped += v % 4 ? kAlphabet[v % kAlphabet.size()] : static_cast<char>(v >> 8);
    }
    expectBothModes(shaped);
}

TEST(BadInput, ATenMegabyteLineWithoutLineEndIsReadIn254CharacterPieces)
{
    // Columns of 100 characters over and over: the pieces fall on them at
    // every offset, so that many hold a data field of their own.
    std::string unit = "\tOUT\t00:00:00.000\t33\t44 61 E8 03 00 00 64 00 00 00 32 00 00 00 00 00 00 00 00 00 00 00";
    unit.resize(100, ' ');
    std::string capture;
    capture.reserve(10'000'000);
    while (capture.size() + unit.size() <= 10'000'000) capture += unit;
    capture.resize(10'000'000, 'F');
    expectBothModes(capture);
}

TEST(BadInput, NulBytesAreOrdinaryCharacters)
{
    const std::string capture = "1\0\tOUT\t00:00:00.0010\t4\t44 \0\0 61 1F 00\t\0D\r\n"s +
                                "2\tIN\t\0\0:00:00.002\t16\t44 01 02 \0 00 00 59 36 80 40 00 02\r\n"s +
                                "3\t\0UT\t00:00:00.003\t2\t\0\0 01 02 03 04 05 06 07 08 09\n"s;
    expectBothModes(capture);
    Sandbox box;
    box.write("dump.txt", capture);
    box.run({"dump.txt", "report.txt"});
    const std::string report = box.read("report.txt");
    EXPECT_NE(report.find("PC     :  44 \0\0 61 1F 00\n   => "s), std::string::npos);
    EXPECT_NE(report.find(" QMR5V :  44 01 02 \0 00 00 59 36 80 40 00 02\n\n   => "s), std::string::npos);
    EXPECT_NE(report.find(" QMR5V :  \0\0 01 02 03 04 05 06 07 08 09\n\n   => ERROR: Unknown instruction...\n"s),
              std::string::npos);
}

TEST(BadInput, CarriageReturnsAloneDoNotEndLines)
{
    // A capture with "\r" line ends is one long line: 254-character pieces.
    std::string capture;
    for (int i = 0; i < 300; ++i)
        capture += std::to_string(i) + (i % 2 ? "\tIN\t00:00:00.100\t16\t44 01 03 11 00 00 59 36 80 40 00 02 00 00 00 00\r"
                                              : "\tOUT\t00:00:00.100\t26\t44 1F E8 03 00 00 64 00 00 00 32 00 00 00 00 00 00 "
                                                "00 00 00 00 00 00 00 00 00\tD\r");
    expectBothModes(capture);
    EXPECT_EQ(reference::captureLines(capture).size(), (capture.size() + 253) / 254);
}

TEST(BadInput, ATruncatedLastLineIsDecodedAsFarAsItGoes)
{
    const std::string whole = "7\tOUT\t00:00:00.700\t33\t44 61 E8 03 00 00 64 00 00 00 32 00 00 00 00 00 00 00 00\t"
                              "D.....d...2........\r\n";
    for (std::size_t cut : {42, 45, 46, 60, 80, 81}) {
        const std::string capture = whole + whole.substr(0, cut);
        expectBothModes(capture);
        Sandbox box;
        box.write("dump.txt", capture);
        box.run({"dump.txt", "report.txt"});
        const std::string report = box.read("report.txt");
        const std::size_t fieldEnd = std::min(cut, whole.find('\t', 22));
        const std::string lastEcho = "PC     :  " + whole.substr(22, fieldEnd - 22) + "\n   => ";
        EXPECT_NE(report.find(lastEcho, report.size() / 2 - 10), std::string::npos) << "cut at " << cut;
    }
}

TEST(BadInput, EveryInstructionWithEveryLengthFrom1To40Bytes)
{
    Noise noise(777);
    std::string capture;
    int sequence = 0;
    for (int code : kInstructions)
        for (const char* direction : {"OUT", "IN"})
            for (int length = 1; length <= 40; ++length) {
                std::vector<int> bytes{code};
                while (static_cast<int>(bytes.size()) < length) bytes.push_back(static_cast<int>(noise.next() & 0xFF));
                const std::string head = std::to_string(++sequence) + "\t" + direction + "\t00:00:00.000\t" +
                                         std::to_string(length) + "\t";
                // The data field ended by a sixth column, and by the line end.
                capture += head + hexBytes(bytes) + "\t" + std::string(20, '.') + "\r\n";
                capture += head + hexBytes(bytes) + std::string(20, ' ') + "\r\n";
            }
    expectBothModes(capture);

    // Each message gets the instruction line of its code, whatever its length.
    Sandbox box;
    box.write("dump.txt", capture);
    box.run({"dump.txt", "report.txt"});
    const std::string report = box.read("report.txt");
    for (int code : kInstructions) {
        char line[32];
        std::snprintf(line, sizeof line, "\n   => Inst 0x%02X=", code);
        std::size_t count = 0;
        for (std::size_t at = report.find(line); at != std::string::npos; at = report.find(line, at + 1)) ++count;
        EXPECT_EQ(count, code == 0x5A ? 80u : 160u) << "instruction 0x" << std::hex << code;
    }
}
