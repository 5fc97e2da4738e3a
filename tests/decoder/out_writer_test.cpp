// The writer thread of the dest file: whatever the size of its buffers, the
// bytes that reach the file are the bytes the decoding wrote, in order; a
// failed write stops the run, and nothing is written after it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "out.h"

using vornlog::Out;
using vornlog::put;

namespace {

// What a run writes, in small: formatted lines, raw bytes with line feeds
// of their own, pieces longer than a small buffer, and a flush half-way
// (which ends the writer thread; the next full buffer starts it again).
void writeRun(Out& out, int lines)
{
    for (int i = 0; i < lines; ++i) {
        put<"     NBR=0x%08X -> %d pulses\n">(out, static_cast<unsigned>(i) * 7919u, i);
        put<"[%c]%s\n">(out, static_cast<char>(i & 0xFF), std::string_view("LCD\ntext", 8));
        if (i % 97 == 0) out.write(std::string(300 + i % 1000, static_cast<char>('a' + i % 26)));
        if (i == lines / 2) out.flush();
    }
}

std::string inPlace(int lines, bool crlf)
{
    std::string s;
    {
        Out out(&s, crlf);
        writeRun(out, lines);
    }
    return s;
}

// A sink that keeps what it is given, notes the thread of each call, and
// fails on call `failOn` (0: never).
struct Recorder {
    std::string text;
    int calls = 0;
    int failOn = 0;
    std::vector<std::thread::id> threads;

    Out::Sink sink()
    {
        return [this](const char* s, std::size_t n) {
            ++calls;
            threads.push_back(std::this_thread::get_id());
            if (calls == failOn) return false;
            text.append(s, n);
            return true;
        };
    }
};

} // namespace

TEST(OutWriter, EveryBufferSizeGivesTheSameBytesInTheSameOrder)
{
    const int lines = 3000;
    const std::size_t total = inPlace(lines, false).size();
    ASSERT_GT(total, 16 * Out::kBuffers * 1024);
    for (const bool crlf : {false, true}) {
        const std::string expected = inPlace(lines, crlf);
        // One byte (every piece is larger), a few bytes, small and large
        // buffers, exactly the whole output in one buffer, and around it.
        for (const std::size_t size : {std::size_t{1}, std::size_t{3}, std::size_t{7}, std::size_t{64},
                                       std::size_t{4096}, total - 1, total, total + 1, Out::kBufferSize}) {
            Recorder r;
            {
                Out out(r.sink(), crlf, size, Out::Writing::Background);
                writeRun(out, lines);
            } // no last flush: the destructor writes the rest and ends the thread
            ASSERT_EQ(r.text, expected) << "buffer of " << size << " bytes, crlf " << crlf;
        }
    }
}

TEST(OutWriter, OutputOfOneBufferIsWrittenInPlaceAndMoreByTheWriterThread)
{
    Recorder r;
    Out out(r.sink(), false, 4096, Out::Writing::Background);
    out.write(std::string(4096, 'x'));
    ASSERT_TRUE(out.flush());
    ASSERT_EQ(r.calls, 1);
    EXPECT_EQ(r.threads[0], std::this_thread::get_id()); // no thread for a small run

    for (int i = 0; i < 100; ++i) out.write(std::string(1000, 'y'));
    ASSERT_TRUE(out.flush());
    int elsewhere = 0;
    for (const std::thread::id id : r.threads) elsewhere += id != std::this_thread::get_id();
    EXPECT_GT(elsewhere, 20); // the full buffers were written while writing went on
    EXPECT_EQ(r.text, std::string(4096, 'x') + std::string(100000, 'y'));
}

TEST(OutWriter, AWriteThatFailsOnTheSecondBufferStopsEverything)
{
    for (const auto writing : {Out::Writing::InPlace, Out::Writing::Background}) {
        Recorder r;
        r.failOn = 2;
        std::string written;
        {
            Out out(r.sink(), false, 1024, writing);
            // Enough buffers for the failure to come back whatever the
            // writer thread's pace: the decoding cannot get more than
            // kBuffers buffers ahead of it.
            for (std::size_t i = 0; i < 8 * (Out::kBuffers + 3); ++i) {
                const std::string piece(128, static_cast<char>('A' + i % 26));
                out.write(piece);
                written += piece;
            }
            EXPECT_TRUE(out.failed()) << "seen by the loops before the end of the run";
            EXPECT_FALSE(out.flush());
            out.write("more");
            EXPECT_FALSE(out.flush());
        }
        EXPECT_EQ(r.calls, 2) << "nothing is written after the failed write";
        EXPECT_EQ(r.text, written.substr(0, 1024));
    }
}

TEST(OutWriter, AFullDiskIsAFailedWrite)
{
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (!full) GTEST_SKIP() << "no /dev/full here";
    {
        Out out(full, false, Out::Writing::Background);
        for (int i = 0; i < 20 && !out.failed(); ++i) out.write(std::string(Out::kBufferSize / 2 + 1, 'z'));
        EXPECT_FALSE(out.flush());
        EXPECT_TRUE(out.failed());
    }
    std::fclose(full);
}
