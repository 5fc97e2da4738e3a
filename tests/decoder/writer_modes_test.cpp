// Every run mode writes the same dest file through the writer thread as
// in place, whatever the size of the buffers the thread is handed.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "capture.h"
#include "motion/steps_csv.h"
#include "out.h"
#include "progress.h"
#include "report.h"

using namespace vornlog;

namespace {

using Loop = std::function<void(LineReader&, Out& dest, Out& console, Progress&)>;

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
        LineReader in(capture);
        loop(in, out, screen, progress);
        EXPECT_TRUE(out.flush());
    }
    return text;
}

} // namespace

TEST(WriterModes, ReportAndStepsCsvAreTheSameForEveryBufferSize)
{
    const std::string session = sampleCapture();
    ASSERT_FALSE(session.empty());
    std::string capture;
    for (int i = 0; i < 40; ++i) capture += session; // a report of many default buffers

    const Loop report = [](LineReader& in, Out& d, Out&, Progress& p) { writeReport(in, d, p); };
    const Loop steps = [](LineReader& in, Out& d, Out& c, Progress& p) { writeStepsCsv(in, d, c, p); };
    for (const auto& [name, loop] : {std::pair{"report", report}, std::pair{"steps", steps}}) {
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
