// A capture decoded while it is being made: fed through a pipe in pieces,
// or followed (-f) while it grows, then ended with Ctrl-C. What each piece
// holds shows before the next one comes (report, CSV, JSON Lines), and the
// end is the output of the whole capture read from a file, byte for byte. Time limits are generous:
// only "before the next piece" is checked, never how soon.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"

using e2e::eventually;
using e2e::readFile;
using e2e::Redirect;
using e2e::Result;
using e2e::Running;
using e2e::Sandbox;

namespace {

const std::string kSource = VORNLOG_SOURCE_DIR;
constexpr int kPatienceMs = 20000;

std::string golden(const std::string& name) { return readFile(kSource + "/tests/e2e/golden/" + name); }

std::uint32_t le32At(const std::string& s, std::size_t at)
{
    std::uint32_t v = 0;
    for (int k = 3; k >= 0; --k) v = v << 8 | static_cast<unsigned char>(s[at + k]);
    return v;
}

// A capture and where its records end: after each line of a text dump,
// after each block of a pcapng.
struct Capture {
    std::string name;
    std::string bytes;
    std::vector<std::size_t> ends;
};

Capture textDump()
{
    Capture c{"session.txt", readFile(kSource + "/examples/session.txt"), {}};
    for (std::size_t p = c.bytes.find('\n'); p != std::string::npos; p = c.bytes.find('\n', p + 1))
        c.ends.push_back(p + 1);
    return c;
}

// The sample session beside a mouse, the device not named.
Capture twoDevices()
{
    Capture c{"two.pcapng", readFile(kSource + "/tests/usb/captures/two-devices.pcapng"), {}};
    for (std::size_t p = 0; p + 8 <= c.bytes.size(); p += le32At(c.bytes, p + 4)) c.ends.push_back(p + le32At(c.bytes, p + 4));
    return c;
}

// The sample session as classic pcap (usbmon, 64-byte headers): a file
// header, then records.
Capture pcapSession()
{
    Capture c{"session.pcap", readFile(kSource + "/tests/usb/captures/session-usbmon220.pcap"), {}};
    for (std::size_t p = 24; p + 16 <= c.bytes.size(); p += 16 + le32At(c.bytes, p + 8)) c.ends.push_back(p + 16 + le32At(c.bytes, p + 8));
    return c;
}

// The pieces of a capture: each ends a little way into a record, so that
// the reader has a record's beginning and must wait for the rest.
std::vector<std::string> pieces(const Capture& c, std::size_t count)
{
    std::vector<std::string> out;
    std::size_t from = 0;
    for (std::size_t k = 1; k < count; ++k) {
        const std::size_t end = c.ends[c.ends.size() * k / count] + 5;
        out.push_back(c.bytes.substr(from, end - from));
        from = end;
    }
    out.push_back(c.bytes.substr(from));
    return out;
}

// What the records whole in the first `bytes` bytes decode to, read from a
// file.
std::string outputOfWholeRecords(const Capture& c, std::size_t bytes, const std::string& mode)
{
    std::size_t whole = 0;
    for (std::size_t end : c.ends)
        if (end <= bytes) whole = end;
    Sandbox box;
    box.write("part", c.bytes.substr(0, whole));
    std::vector<std::string> args = {"-n", "part", "out"};
    if (!mode.empty()) args.insert(args.begin(), mode);
    const Result r = box.run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return box.read("out");
}

} // namespace

TEST(Live, APipeFedInPiecesShowsEachPieceBeforeTheNextAndEndsAsAFile)
{
    for (const Capture& capture : {textDump(), twoDevices()}) {
        for (const std::string mode : {"", "-s", "-j"}) {
            SCOPED_TRACE(capture.name + " " + mode);
            Sandbox box;
            Redirect io;
            io.pipeInput = true;
            std::vector<std::string> args = {"-n", "-", "out"};
            if (!mode.empty()) args.insert(args.begin(), mode);
            Running run = box.start(args, io);
            std::size_t sent = 0;
            const std::vector<std::string> parts = pieces(capture, 3);
            for (std::size_t k = 0; k + 1 < parts.size(); ++k) {
                run.feed(parts[k]);
                sent += parts[k].size();
                const std::string expected = outputOfWholeRecords(capture, sent, mode);
                EXPECT_TRUE(eventually([&] { return box.read("out") == expected; }, kPatienceMs))
                    << "piece " << k + 1 << " did not show before the next was sent";
            }
            run.feed(parts.back());
            const Result r = run.wait();
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(box.read("out"), outputOfWholeRecords(capture, capture.bytes.size(), mode));
            if (mode != "-j") {
                EXPECT_EQ(box.read("out"), golden(mode.empty() ? "session.report.txt" : "session.steps.csv"));
            }
        }
    }
}

TEST(Live, AFollowedFileIsDecodedAsItGrowsAndCtrlCEndsTheRunWithStatus0)
{
    for (const Capture& capture : {textDump(), twoDevices()}) {
        SCOPED_TRACE(capture.name);
        Sandbox box;
        box.write("growing", "");
        Running run = box.start({"-n", "-f", "growing", "report.txt"});
        std::size_t sent = 0;
        for (const std::string& part : pieces(capture, 3)) {
            std::ofstream(box.path("growing"), std::ios::binary | std::ios::app) << part;
            sent += part.size();
            const std::string expected = outputOfWholeRecords(capture, sent, "");
            EXPECT_TRUE(eventually([&] { return box.read("report.txt") == expected; }, kPatienceMs));
        }
        run.signal(SIGINT);
        const Result r = run.wait();
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(box.read("report.txt"), golden("session.report.txt"));
        const std::string where = capture.name == "session.txt" ? "line 73" : "packet 393";
        EXPECT_NE(r.out.find("\nReading interrupted after " + where + "\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("\n\nDone"), std::string::npos);
    }
}

// The summary and the picture are written at the end, and Ctrl-C is one.
TEST(Live, CtrlCWritesTheSummaryAndThePictureOfWhatWasRead)
{
    Sandbox box;
    box.write("session.txt", readFile(kSource + "/examples/session.txt"));
    for (const std::string mode : {"-t", "-p"}) {
        Running run = box.start({"-n", "-f", mode, "session.txt", "out"});
        // The console is handed on when the reading first waits: at the
        // end of the file, with Ctrl-C caught.
        EXPECT_TRUE(eventually([&] { return run.out().starts_with("Vornlog (rel. 0.04)\n"); }, kPatienceMs));
        run.signal(SIGINT);
        const Result r = run.wait();
        EXPECT_EQ(r.status, 0) << mode;
        const std::string out = box.read("out");
        if (mode == "-t") {
            EXPECT_NE(out.find("  Lines read                                      73\n"), std::string::npos) << out;
            EXPECT_NE(out.find("  Reading interrupted                     after line 73\n"), std::string::npos) << out;
        } else {
            EXPECT_TRUE(out.ends_with("</svg>\n")) << out;
        }
    }
}

TEST(Live, ACaptureWhoseFeederDiesInThePacketKeepsWhatWasWholeAndNamesTheDamage)
{
    const Capture capture = twoDevices();
    const std::size_t cut = capture.ends[capture.ends.size() / 2] + 30;
    Sandbox box;
    Redirect io;
    io.pipeInput = true;
    io.input = capture.bytes.substr(0, cut);
    const Result r = box.run({"-n", "-", "report.txt"}, io);
    EXPECT_EQ(r.status, 1);
    const std::size_t block = capture.ends[capture.ends.size() / 2];
    EXPECT_EQ(r.err, "Damaged capture file, block length " + std::to_string(le32At(capture.bytes, block + 4)) +
                         " runs past the end of the file at byte offset " + std::to_string(block) + ": -\n");
    EXPECT_EQ(box.read("report.txt"), outputOfWholeRecords(capture, cut, ""));
}

// A file on a disk whose decoding Ctrl-C cut short: the output holds the
// whole messages read, and status 130 tells it from a whole run. The dest
// is a pipe that is left full, so that the run waits until the signal came.
TEST(Live, CtrlCOnAFileEndsWithTheMessagesReadAndStatus130)
{
    std::string session = readFile(kSource + "/examples/session.txt");
    std::string big;
    while (big.size() < (2u << 20)) big += session;
    Sandbox box;
    box.write("big.txt", big);
    ASSERT_EQ(mkfifo(box.path("report.txt").c_str(), 0600), 0);
    const int fifo = open(box.path("report.txt").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fifo, 0);
    Running run = box.start({"-n", "big.txt", "report.txt"});
    EXPECT_TRUE(eventually(
        [&] {
            int queued = 0;
            return ioctl(fifo, FIONREAD, &queued) == 0 && queued >= 65536;
        },
        kPatienceMs));
    run.signal(SIGINT);
    std::string report;
    std::thread drain([&] {
        fcntl(fifo, F_SETFL, 0);
        char chunk[65536];
        for (ssize_t n; (n = read(fifo, chunk, sizeof chunk)) != 0;)
            if (n > 0) report.append(chunk, static_cast<std::size_t>(n));
    });
    const Result r = run.wait();
    drain.join();
    close(fifo);
    EXPECT_EQ(r.status, 130);
    EXPECT_EQ(r.out.find("Done"), std::string::npos);
    const std::size_t at = r.out.find("\nReading interrupted after line ");
    ASSERT_NE(at, std::string::npos) << r.out;
    const std::size_t lines = std::stoul(r.out.substr(at + 32));
    std::size_t end = 0;
    for (std::size_t k = 0; k < lines; ++k) end = big.find('\n', end) + 1;
    ASSERT_LT(end, big.size()) << "the run was not cut short";
    box.write("part.txt", big.substr(0, end));
    ASSERT_EQ(box.run({"-n", "part.txt", "part-report.txt"}).status, 0);
    EXPECT_EQ(report, box.read("part-report.txt"));
}

TEST(Live, CtrlCOnACapturePipeBeforeItsInterfaceEndsAsOnATextPipe)
{
    const Capture capture = twoDevices();
    Sandbox box;
    Redirect io;
    io.pipeInput = true;
    Running run = box.start({"-n", "-", "report.txt"}, io);
    run.feed(capture.bytes.substr(0, le32At(capture.bytes, 4))); // the section header alone
    EXPECT_TRUE(eventually([&] { return run.out().starts_with("Vornlog (rel. 0.04)\n"); }, kPatienceMs));
    run.signal(SIGINT);
    const Result r = run.wait();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

TEST(Live, AFollowedFileTruncatedAndWrittenAnewIsReadAgainFromItsStart)
{
    for (const Capture& capture : {textDump(), twoDevices(), pcapSession()}) {
        SCOPED_TRACE(capture.name);
        const std::string old = capture.bytes.substr(0, capture.ends[capture.ends.size() / 2]);
        const std::string oldReport = outputOfWholeRecords(capture, old.size(), "");
        Sandbox box;
        box.write("capture", old);
        Running run = box.start({"-n", "-f", "capture", "report.txt"});
        EXPECT_TRUE(eventually([&] { return box.read("report.txt") == oldReport; }, kPatienceMs));
        box.write("capture", ""); // truncated, as a capture started anew under the same name
        EXPECT_TRUE(eventually([&] { return run.out().find("\nFile truncated: read again from its start\n") !=
                                            std::string::npos; },
                               kPatienceMs))
            << run.out();
        std::ofstream(box.path("capture"), std::ios::binary | std::ios::app) << capture.bytes;
        const std::string expected = oldReport + golden("session.report.txt");
        EXPECT_TRUE(eventually([&] { return box.read("report.txt") == expected; }, kPatienceMs));
        run.signal(SIGINT);
        const Result r = run.wait();
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(box.read("report.txt"), expected);
    }
}

// -F: the name is followed. The old file is read to its end (what its writer
// added after renaming it too), then the new one from its start; a name
// deleted and given to a new file is waited for; the unfinished last record
// of a file left behind ends as a file's end does, and the new file's first
// records are whole.
TEST(Live, AFollowedNameGivenToANewFileReadsTheOldToItsEndThenTheNewFromItsStart)
{
    for (const Capture& capture : {textDump(), twoDevices(), pcapSession()}) {
        SCOPED_TRACE(capture.name);
        const std::size_t half = capture.ends[capture.ends.size() / 2];
        const std::string cut = capture.bytes.substr(0, half + 5); // ends a little way into a record
        const std::string whole = golden("session.report.txt");
        Sandbox box;
        box.write("cut", cut);
        ASSERT_TRUE(box.run({"-n", "cut", "cut.txt"}).status >= 0);
        const std::string cutAsAFile = box.read("cut.txt"); // its last record as the file's end leaves it
        box.write("capture", cut);
        Running run = box.start({"-n", "-F", "capture", "report.txt"});
        std::string expected = outputOfWholeRecords(capture, cut.size(), "");
        EXPECT_TRUE(eventually([&] { return box.read("report.txt") == expected; }, kPatienceMs));

        // Rotated by renaming; the writer finishes the old file, then starts
        // the new one.
        ASSERT_EQ(std::rename(box.path("capture").c_str(), box.path("capture.1").c_str()), 0);
        std::ofstream(box.path("capture.1"), std::ios::binary | std::ios::app) << capture.bytes.substr(cut.size());
        box.write("capture", capture.bytes);
        expected = whole + whole;
        EXPECT_TRUE(eventually([&] { return box.read("report.txt") == expected; }, kPatienceMs));
        EXPECT_TRUE(eventually([&] { return run.out().find("\nFile replaced: read the new file from its start\n") !=
                                            std::string::npos; },
                               kPatienceMs))
            << run.out();

        // Deleted and started anew, twice: the second file is left with a
        // record unfinished.
        ASSERT_EQ(std::remove(box.path("capture").c_str()), 0);
        box.write("capture", cut);
        expected += outputOfWholeRecords(capture, cut.size(), "");
        EXPECT_TRUE(eventually([&] { return box.read("report.txt") == expected; }, kPatienceMs));
        ASSERT_EQ(std::remove(box.path("capture").c_str()), 0);
        box.write("capture", capture.bytes);
        expected = whole + whole + cutAsAFile + whole;
        EXPECT_TRUE(eventually([&] { return box.read("report.txt") == expected; }, kPatienceMs));

        run.signal(SIGINT);
        const Result r = run.wait();
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(box.read("report.txt"), expected);
    }
}
