// Runs from scripts and pipelines: no viewer, quiet runs, standard input
// and output as the dump and dest files, --help and --version.
#include <gtest/gtest.h>

#include "harness.h"

using e2e::readFile;
using e2e::Redirect;
using e2e::Result;
using e2e::Sandbox;

namespace {

const std::string kSource = VORNLOG_SOURCE_DIR;
const std::string kBanner = "Vornlog (rel. 0.04)\n";
const std::string kLine = "1\tOUT\t2026-11-30 14:02:11.517\t2\t43 01\tC.\r\n";
const std::string kReport = "PC     :  43 01\n"
                            "   => ERROR: Unknown instruction...\n";

Redirect pipeIn(const std::string& input)
{
    Redirect io;
    io.pipeInput = true;
    io.input = input;
    return io;
}

} // namespace

TEST(Batch, NoViewerRunsAsUsualAndShowsNothing)
{
    Sandbox box;
    box.write("dump.txt", kLine);
    const Result r = box.run({"-n", "dump.txt", "out.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kBanner + "\rAnalyzing line: 1\n\nDone");
    EXPECT_EQ(box.read("out.txt"), kReport);
    const Result steps = box.run({"-s", "-n", "dump.txt", "steps.csv"});
    EXPECT_EQ(steps.status, 0);
    EXPECT_EQ(steps.out, kBanner + "\n\rAnalyzing line: 1\n\nDone");
    EXPECT_TRUE(box.viewerCalls(1, 300).empty());
}

TEST(Batch, QuietWritesNothingButErrors)
{
    Sandbox box;
    box.write("dump.txt", kLine);
    const Result r = box.run({"-q", "dump.txt", "out.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(box.read("out.txt"), kReport);
    // -q alone still shows the result.
    const auto calls = box.viewerCalls(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], std::vector<std::string>{box.path("out.txt")});

    const Result steps = box.run({"-q", "-s", "-n", "dump.txt", "steps.csv"});
    EXPECT_EQ(steps.status, 0);
    EXPECT_EQ(steps.out + steps.err, "");

    const Result missing = box.run({"-q", "-n", "missing.txt", "out.txt"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "Can't read the file: missing.txt\n");
    EXPECT_EQ(box.viewerCalls(2, 300).size(), 1u);
}

TEST(Batch, StandardInputAndOutputCarryTheBytesOfFiles)
{
    // A text dump and a USB capture file, each through a pipe as from a file.
    for (const char* name : {"session.txt", "session.pcapng"})
    for (const char* mode : {"-v", "-s"}) {
        const std::string session = readFile(kSource + "/examples/" + name);
        Sandbox box;
        box.write(name, session);
        const Result files = box.run({"-n", mode, name, "files.out"});
        ASSERT_EQ(files.status, 0) << files.err;
        const std::string expected = box.read("files.out");

        // Both ends piped: the dest on standard output, the console text
        // on standard error, and no viewer.
        const Result piped = box.run({mode, "-", "-"}, pipeIn(session));
        EXPECT_EQ(piped.status, 0) << mode;
        EXPECT_EQ(piped.out, expected) << mode;
        EXPECT_EQ(piped.err, files.out) << mode;

        const Result in = box.run({"-n", mode, "-", "in.out"}, pipeIn(session));
        EXPECT_EQ(in.status, 0);
        EXPECT_EQ(in.out, files.out);
        EXPECT_EQ(box.read("in.out"), expected) << mode;

        const Result out = box.run({"-q", mode, name, "-"});
        EXPECT_EQ(out.status, 0);
        EXPECT_EQ(out.out, expected) << mode;
        EXPECT_EQ(out.err, "");
        EXPECT_TRUE(box.viewerCalls(1, 300).empty()) << mode;
    }
}

TEST(Batch, TheCaptureIsNotWrittenOverThroughStandardInputOrOutput)
{
    Sandbox box;
    box.write("dump.txt", kLine);
    Redirect fromDump;
    fromDump.inputFile = "dump.txt";
    const Result in = box.run({"-", "dump.txt"}, fromDump);
    EXPECT_EQ(in.status, 1);
    EXPECT_EQ(in.err, "Can't write to file: dump.txt\n");
    EXPECT_EQ(box.read("dump.txt"), kLine);

    // Appended to while it is read, the capture would grow without end.
    Redirect toDump;
    toDump.appendOutputTo = "dump.txt";
    const Result out = box.run({"dump.txt", "-"}, toDump);
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.err, kBanner + "Can't write to file: -\n");
    EXPECT_EQ(box.read("dump.txt"), kLine);

    // Another file on standard input is fine.
    const Result other = box.run({"-n", "-", "other.txt"}, fromDump);
    EXPECT_EQ(other.status, 0);
    EXPECT_EQ(box.read("other.txt"), kReport);
}

TEST(Batch, HelpAndVersionAreOnStandardOutputWithStatusZero)
{
    Sandbox box;
    const Result version = box.run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "vornlog " VORNLOG_VERSION " (Vornlog rel. 0.04)\n");
    EXPECT_EQ(version.err, "");

    const Result help = box.run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    // Every option and mode has its line and an example.
    for (const char* option : {"-v", "-s", "-p", "-t", "-l", "-d", "-i", "-f", "-n", "-q", "-h"}) {
        EXPECT_NE(help.out.find("\n   " + std::string(option) + " "), std::string::npos) << option;
        EXPECT_NE(help.out.find("vornlog " + std::string(option)), std::string::npos) << option;
    }
    for (const char* example : {"vornlog --help", "vornlog --version", "vornlog -s - - < session.txt | sort"})
        EXPECT_NE(help.out.find(example), std::string::npos) << example;
}
