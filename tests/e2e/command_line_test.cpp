// The console program as a user runs it: arguments, files, console output,
// exit status and the viewer it starts.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <unistd.h>

#include "harness.h"

using e2e::Result;
using e2e::Sandbox;

namespace {

const std::string kBanner = "Vornlog (rel. 0.04)\n";
const std::string kUsage = "\n"
                           "Usage:\n"
                           "   Vornlog [-s|-v] <dump file> <dest file>\n"
                           "Options:\n"
                           "   -s  extract steps information only in CSV format\n"
                           "   -v  Full details on all instructions\n"
                           "   -h  this help\n"
                           "\n";
const std::string kCsvHeader = "Cur_seg;Buffer;Nbr pulse;S1;S2;S3;S4;S5;PWM;F_ACC;F_DEC;Nbr dec\n";
const std::string kLine = "1\tOUT\t2026-11-30 14:02:11.517\t2\t43 01\tC.\r\n";

} // namespace

TEST(CommandLine, WrongArgumentsShowTheUsageAndTouchNoFile)
{
    const std::vector<std::vector<std::string>> cases = {
        {}, {"a"}, {"-h", "a", "b"}, {"-x", "a", "b"}, {"-", "a", "b"}, {"x", "a", "b"}, {"-s", "-h", "a", "b"},
        {"-h"}, {"--x"}, {"--help", "a", "b"}, {"--version", "a", "b"},
        // The live viewer's port: 1 to 65535, digits only.
        {"--port=0", "-l", "a", "b"}, {"--port=65536", "-l", "a", "b"}, {"--port=", "-l", "a", "b"},
        {"--port=8o", "-l", "a", "b"}, {"--port 80", "-l", "a", "b"}};
    for (const auto& args : cases) {
        Sandbox box;
        const Result r = box.run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, kBanner + kUsage);
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(box.exists("a") || box.exists("b"));
    }
}

TEST(CommandLine, AMissingDumpFileIsReportedAndTheDestIsLeftAlone)
{
    Sandbox box;
    box.write("out.txt", "the user's earlier report");
    const Result r = box.run({"missing.txt", "out.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kBanner);
    EXPECT_EQ(r.err, "Can't read the file: missing.txt\n");
    EXPECT_EQ(box.read("out.txt"), "the user's earlier report");
    EXPECT_TRUE(box.viewerCalls(0, 0).empty());
}

TEST(CommandLine, AFolderGivenAsTheDumpFileIsAReadError)
{
    Sandbox box;
    std::filesystem::create_directory(box.path("folder"));
    const Result r = box.run({"folder", "out.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can't read the file: folder\n");
    EXPECT_FALSE(box.exists("out.txt"));
}

TEST(CommandLine, ADestInAMissingFolderIsAWriteError)
{
    Sandbox box;
    box.write("dump.txt", kLine);
    const Result r = box.run({"dump.txt", "nofolder/out.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kBanner);
    EXPECT_EQ(r.err, "Can't write to file: nofolder/out.txt\n");
}

TEST(CommandLine, TheCaptureItselfIsNeverTheDest)
{
    Sandbox box;
    box.write("dump.txt", kLine);
    std::filesystem::create_hard_link(box.path("dump.txt"), box.path("hard.txt"));
    std::filesystem::create_symlink("dump.txt", box.path("soft.txt"));
    for (const std::string& dest : std::vector<std::string>{"dump.txt", "./dump.txt", "hard.txt", "soft.txt", box.path("dump.txt")}) {
        for (const char* mode : {"-v", "-s"}) {
            const Result r = box.run({mode, "dump.txt", dest});
            EXPECT_EQ(r.status, 1) << dest;
            EXPECT_EQ(r.err, "Can't write to file: " + dest + "\n");
            EXPECT_EQ(box.read("dump.txt"), kLine) << "the capture was touched through " << dest;
        }
    }
    EXPECT_TRUE(box.viewerCalls(0, 0).empty());
}

TEST(CommandLine, AWriteErrorIsReportedAndNoViewerStarts)
{
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full here";
    Sandbox box;
    std::string capture;
    for (int i = 0; i < 20000; ++i) capture += kLine;
    box.write("dump.txt", capture);
    for (const char* mode : {"-v", "-s"}) {
        const Result r = box.run({mode, "dump.txt", "/dev/full"});
        EXPECT_EQ(r.status, 1) << mode;
        EXPECT_EQ(r.err, "Can't write to file: /dev/full\n");
        EXPECT_EQ(r.out.find("Done"), std::string::npos);
    }
    EXPECT_TRUE(box.viewerCalls(1, 300).empty());
}

TEST(CommandLine, AClosedStandardOutputIsAWriteErrorEvenWithDashQ)
{
    // -q opens the null device for the console: it must not take the
    // closed descriptor 1 and swallow the JSON Lines meant for it.
    Sandbox box;
    box.write("dump.txt", kLine);
    for (const bool quiet : {false, true}) {
        std::vector<std::string> args{"-n", "-j", "dump.txt", "-"};
        if (quiet) args.insert(args.begin(), "-q");
        e2e::Redirect io;
        io.closedOutput = true;
        const Result r = box.run(args, io);
        EXPECT_EQ(r.status, 1) << quiet;
        EXPECT_TRUE(r.err.ends_with("Can't write to file: -\n")) << r.err;
    }
}

TEST(CommandLine, AnEmptyCaptureGivesAnEmptyReportThenDone)
{
    Sandbox box;
    box.write("dump.txt", "");
    const Result r = box.run({"dump.txt", "out.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kBanner + "\n\nDone");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(box.read("out.txt"), "");
    const auto calls = box.viewerCalls(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], std::vector<std::string>{box.path("out.txt")});
}

TEST(CommandLine, ShortLinesAreCountedButWriteNothing)
{
    Sandbox box;
    box.write("dump.txt", "1\tOUT\t0\t1\t56\tV\r\n2\tIN\t0\t1\t56\tV\r\n");
    // On a terminal every line is counted; a console that is a file gets
    // the last count alone.
    e2e::Redirect terminal;
    terminal.terminalOutput = true;
    Result r = box.run({"dump.txt", "out.txt"}, terminal);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kBanner + "\rAnalyzing line: 1\rAnalyzing line: 2\n\nDone");
    r = box.run({"dump.txt", "out.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kBanner + "\rAnalyzing line: 2\n\nDone");
    EXPECT_EQ(box.read("out.txt"), "");
}

TEST(CommandLine, NoOptionAndDashVWriteTheSameReport)
{
    Sandbox box;
    box.write("dump.txt", kLine + kLine);
    const Result plain = box.run({"dump.txt", "plain.txt"});
    const Result verbose = box.run({"-v", "dump.txt", "verbose.txt"});
    const Result both = box.run({"-s", "-v", "dump.txt", "both.txt"});
    EXPECT_EQ(plain.out, verbose.out);
    EXPECT_EQ(box.read("plain.txt"), "PC     :  43 01\n"
                                     "   => ERROR: Unknown instruction...\n"
                                     "PC     :  43 01\n"
                                     "   => ERROR: Unknown instruction...\n");
    EXPECT_EQ(box.read("verbose.txt"), box.read("plain.txt"));
    EXPECT_EQ(box.read("both.txt"), box.read("plain.txt"));
}

TEST(CommandLine, DashSWritesTheStepsCsvAndAnEmptyConsoleLine)
{
    Sandbox box;
    box.write("dump.txt", kLine);
    const Result r = box.run({"-v", "-s", "dump.txt", "steps.csv"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kBanner + "\n\rAnalyzing line: 1\n\nDone");
    EXPECT_EQ(box.read("steps.csv"), kCsvHeader);
    const auto calls = box.viewerCalls(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], std::vector<std::string>{box.path("steps.csv")});
}

// The viewer gets the dest file's full path: a name such as "-x.svg" is no
// option of the viewer then, and "mailto:x.csv" no address.
TEST(CommandLine, TheViewerGetsTheDestFilesPathAsOneArgumentAndNoShellSeesIt)
{
    Sandbox box;
    box.write("dump.txt", kLine);
    for (const std::string dest : {"a b.txt", "x;y.txt", "a&b.txt", "$(touch pwned).txt", "`touch pwned`.txt",
                                   "q'uo\"te.txt", "-s", "mailto:x.csv"}) {
        Sandbox one;
        one.write("dump.txt", kLine);
        const Result r = one.run({"dump.txt", dest});
        ASSERT_EQ(r.status, 0) << dest;
        const auto calls = one.viewerCalls(1);
        ASSERT_EQ(calls.size(), 1u) << dest;
        EXPECT_EQ(calls[0], std::vector<std::string>{one.path(dest)});
        EXPECT_EQ(one.viewerSaw(), one.read(dest)) << "the viewer started before the report was complete";
        EXPECT_FALSE(one.exists("pwned")) << dest;
    }
}

// -i keeps the messages of some instructions, both ways, in the report, the
// JSON Lines and the summary; the steps CSV needs every Data message and
// ignores it.
TEST(CommandLine, DashIKeepsTheInstructionsNamedByLetterOrCode)
{
    const std::string source = VORNLOG_SOURCE_DIR;
    Sandbox box;
    box.write("session.txt", e2e::readFile(source + "/examples/session.txt"));
    // The checked report, its messages of Data (0x44) and Stop (0x53) alone.
    const std::string golden = e2e::readFile(source + "/tests/e2e/golden/session.report.txt");
    std::string expected;
    bool keep = false;
    for (std::size_t at = 0; at < golden.size();) {
        const std::size_t end = golden.find('\n', at) + 1;
        const std::string line = golden.substr(at, end - at);
        if (line.starts_with("PC     :  ") || line.starts_with(" QMR5V :  "))
            keep = line.compare(10, 2, "44") == 0 || line.compare(10, 2, "53") == 0;
        if (keep) expected += line;
        at = end;
    }
    ASSERT_NE(expected.find(" QMR5V :  53"), std::string::npos);
    for (const std::vector<std::string>& option : {std::vector<std::string>{"-iDS"}, {"-i", "D,S"}, {"-i", "0x44,s"}}) {
        std::vector<std::string> args = option;
        args.insert(args.end(), {"-n", "session.txt", "report.txt"});
        ASSERT_EQ(box.run(args).status, 0);
        EXPECT_EQ(box.read("report.txt"), expected) << option.back();
    }
    // The JSON Lines: the lines of those messages, as without -i.
    ASSERT_EQ(box.run({"-n", "-j", "-iDS", "session.txt", "lines.jsonl"}).status, 0);
    std::string lines;
    std::istringstream all(e2e::readFile(source + "/tests/e2e/golden/session.jsonl"));
    for (std::string line; std::getline(all, line);)
        if (line.find(",\"code\":68,") != std::string::npos || line.find(",\"code\":83,") != std::string::npos)
            lines += line + "\n";
    EXPECT_EQ(box.read("lines.jsonl"), lines);
    ASSERT_EQ(box.run({"-n", "-iD", "-s", "session.txt", "steps.csv"}).status, 0);
    EXPECT_EQ(box.read("steps.csv"), e2e::readFile(source + "/tests/e2e/golden/session.steps.csv"));
    ASSERT_EQ(box.run({"-n", "-t", "-iDS", "session.txt", "summary.txt"}).status, 0);
    const std::string summary = box.read("summary.txt");
    EXPECT_NE(summary.find("  Instructions kept (-i)                  0x44 D Data, 0x53 S Stop\n"
                           "  Messages of the others, left out                51\n"),
              std::string::npos)
        << summary;
    EXPECT_EQ(summary.find("0x56 V"), std::string::npos) << "a message left out is summed up";
    // A message left out is no line passed over: those counts are the same as without -i.
    ASSERT_EQ(box.run({"-n", "-t", "session.txt", "all.txt"}).status, 0);
    const auto passedOver = [](const std::string& page) { // its line and the three under it
        std::size_t end = page.find("  Lines passed over");
        const std::size_t at = end;
        for (int line = 0; line < 4 && end != std::string::npos; ++line) end = page.find('\n', end + 1);
        return at == std::string::npos || end == std::string::npos ? std::string() : page.substr(at, end - at);
    };
    EXPECT_NE(passedOver(summary), "");
    EXPECT_EQ(passedOver(summary), passedOver(box.read("all.txt")));

    // A letter or a code that is not an instruction: the usage text.
    for (const std::string list : {"X", "D,Q", "0x41", "0x", "", "44"}) {
        const Result r = box.run({"-i", list, "session.txt", "out.txt"});
        EXPECT_EQ(r.status, 1) << list;
        EXPECT_EQ(r.out, kBanner + kUsage) << list;
    }
    EXPECT_FALSE(box.exists("out.txt"));
}

TEST(CommandLine, ControlBytesOfTheCaptureReachATerminalEscapedAndAFileExact)
{
    // A Version reply whose text sets a terminal's title: ESC ] 0 ; hi BEL.
    Sandbox box;
    box.write("dump.txt", "2\tIN\t2026-11-30 14:02:11.518\t12\t56 1B 5D 30 3B 68 69 07 41 42 43 44\t.\r\n");
    e2e::Redirect io;
    io.terminalOutput = true;
    const Result shown = box.run({"-n", "-q", "dump.txt", "-"}, io);
    EXPECT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.out.find("\\x1B]0;hi\\x07ABCD"), std::string::npos) << shown.out;
    EXPECT_EQ(shown.out.find('\x1B'), std::string::npos);
    EXPECT_EQ(shown.out.find('\x07'), std::string::npos);
    const Result saved = box.run({"-n", "dump.txt", "report.txt"});
    EXPECT_EQ(saved.status, 0) << saved.err;
    EXPECT_NE(box.read("report.txt").find("\x1B]0;hi\x07" "ABCD"), std::string::npos);
}
