// Every run mode writes the same dest file whatever the size of the output
// buffer: lines cut at any byte by a full buffer come out whole.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <utility>
#include <sstream>
#include <string>

#include "capture/capture.h"
#include "capture/source.h"
#include "base/out.h"
#include "output/json_lines.h"
#include "output/picture.h"
#include "output/report.h"
#include "output/steps_csv.h"
#include "output/summary.h"
#include "output/progress.h"

using namespace vornlog;

namespace {

using Loop = std::function<void(MessageSource&, Out& dest, Out& console, Progress&)>;

std::string sampleCapture()
{
    std::ifstream in(std::string(VORNLOG_SOURCE_DIR) + "/examples/session.txt", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The dest file of one run over `capture`, through a buffer of
// `bufferSize` bytes.
std::string dest(const Loop& loop, const std::string& capture, std::size_t bufferSize, bool crlf)
{
    std::string text, console;
    {
        Out out(&text, crlf, bufferSize);
        Out screen(&console);
        Progress progress(screen);
        LineReader lines(capture);
        TextDumpSource in(lines);
        loop(in, out, screen, progress);
        EXPECT_TRUE(out.flush());
    }
    return text;
}

} // namespace

TEST(BufferSizes, EveryModeWritesTheSameForEveryBufferSize)
{
    const std::string session = sampleCapture();
    ASSERT_FALSE(session.empty());
    std::string capture;
    for (int i = 0; i < 40; ++i) capture += session; // a report of many default buffers

    const Loop report = [](MessageSource& in, Out& d, Out&, Progress& p) { writeReport(in, d, p); };
    const Loop steps = [](MessageSource& in, Out& d, Out& c, Progress& p) { writeStepsCsv(in, d, c, p); };
    const Loop picture = [](MessageSource& in, Out& d, Out&, Progress& p) { writePicture(in, d, p, "session.txt"); };
    const Loop summary = [](MessageSource& in, Out& d, Out&, Progress& p) { writeSummary(in, "session.txt", d, p); };
    const Loop json = [](MessageSource& in, Out& d, Out&, Progress& p) { writeJsonLines(in, d, p); };
    for (const auto& [name, loop] : {std::pair{"report", report}, std::pair{"steps", steps},
                                     std::pair{"picture", picture}, std::pair{"summary", summary},
                                     std::pair{"json", json}}) {
        for (const bool crlf : {false, true}) {
            const std::string expected = dest(loop, capture, Out::kBufferSize, crlf);
            ASSERT_FALSE(expected.empty()) << name;
            for (const std::size_t size : {std::size_t{1}, std::size_t{5}, std::size_t{64}, std::size_t{4096},
                                           expected.size() - 1, expected.size(), expected.size() + 1})
                EXPECT_EQ(dest(loop, capture, size, crlf), expected)
                    << name << ", buffer of " << size << " bytes, crlf " << crlf;
        }
    }
}
