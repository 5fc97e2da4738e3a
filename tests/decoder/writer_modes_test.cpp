// Every run mode writes the same dest file through the writer thread as
// in place, whatever the size of the buffers the thread is handed.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "capture.h"
#include "motion/picture.h"
#include "motion/steps_csv.h"
#include "out.h"
#include "progress.h"
#include "report.h"
#include "source.h"
#include "summary.h"

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

// The dest file of one run over `capture`, through a background sink with
// buffers of `bufferSize` bytes (0: in place, the reference).
std::string dest(const Loop& loop, const std::string& capture, std::size_t bufferSize, bool crlf)
{
    std::string text, console;
    {
        Out out(
            [&text](const char* s, std::size_t n) {
                text.append(s, n);
                return true;
            },
            crlf, bufferSize ? bufferSize : Out::kBufferSize,
            bufferSize ? Out::Writing::Background : Out::Writing::InPlace);
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

TEST(WriterModes, EveryModeWritesTheSameForEveryBufferSize)
{
    const std::string session = sampleCapture();
    ASSERT_FALSE(session.empty());
    std::string capture;
    for (int i = 0; i < 40; ++i) capture += session; // a report of many default buffers

    const Loop report = [](MessageSource& in, Out& d, Out&, Progress& p) { writeReport(in, d, p); };
    const Loop steps = [](MessageSource& in, Out& d, Out& c, Progress& p) { writeStepsCsv(in, d, c, p); };
    const Loop picture = [](MessageSource& in, Out& d, Out&, Progress& p) { writePicture(in, d, p, "session.txt"); };
    const Loop summary = [](MessageSource& in, Out& d, Out&, Progress& p) { writeSummary(in, "session.txt", d, p); };
    for (const auto& [name, loop] : {std::pair{"report", report}, std::pair{"steps", steps},
                                     std::pair{"picture", picture}, std::pair{"summary", summary}}) {
        for (const bool crlf : {false, true}) {
            const std::string expected = dest(loop, capture, 0, crlf);
            ASSERT_FALSE(expected.empty()) << name;
            for (const std::size_t size : {std::size_t{1}, std::size_t{5}, std::size_t{64}, std::size_t{4096},
                                           expected.size(), Out::kBufferSize})
                EXPECT_EQ(dest(loop, capture, size, crlf), expected)
                    << name << ", buffer of " << size << " bytes, crlf " << crlf;
        }
    }
}
