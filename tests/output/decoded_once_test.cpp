// Each message of a run is decoded once: a writer above the findings tap
// hands it the values of its own decoding, and the findings it makes from
// them are those it makes decoding every message itself.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>

#include "base/out.h"
#include "capture/capture.h"
#include "capture/instruction_filter.h"
#include "capture/source.h"
#include "output/findings_lines.h"
#include "output/json_lines.h"
#include "output/picture.h"
#include "output/progress.h"
#include "output/report.h"
#include "output/steps_csv.h"
#include "output/summary.h"
#include "analysis/segments.h"
#include "protocol/instructions.h"

using namespace vornlog;

namespace {

std::string stallCapture()
{
    std::ifstream file(std::string(VORNLOG_SOURCE_DIR) + "/examples/stall.txt", std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

using Writer = std::function<void(MessageSource&, Out&, Progress&)>;

struct Outcome {
    std::string written;
    std::string findings;
    std::uint64_t decodedHere = 0;
};

// The writer over the capture, with the findings tap below it (and -i
// between them when `keep` is given), or alone.
Outcome run(const std::string& capture, const Writer& write, bool tap, const char* keep = nullptr)
{
    Outcome result;
    LineReader lines(capture);
    TextDumpSource source(lines);
    Out findings(&result.findings);
    std::optional<FindingsTap> findingsTap;
    if (tap) findingsTap.emplace(source, &findings);
    MessageSource& below = tap ? static_cast<MessageSource&>(*findingsTap) : source;
    const std::optional<InstructionFilter> filter = keep ? InstructionFilter::parse(keep) : std::nullopt;
    std::optional<FilteredSource> kept;
    if (filter) kept.emplace(below, *filter);
    std::string console;
    {
        Out written(&result.written);
        Out con(&console);
        Progress progress(con);
        write(kept ? static_cast<MessageSource&>(*kept) : below, written, progress);
        if (findingsTap) {
            findingsTap->finish();
            result.decodedHere = findingsTap->decodedHere();
        }
    }
    return result;
}

// How many messages of the capture pass `test`.
std::uint64_t messages(const std::string& capture, const std::function<bool(const CaptureRecord&)>& test)
{
    LineReader lines(capture);
    TextDumpSource source(lines);
    CaptureRecord record;
    std::uint64_t n = 0;
    while (source.next(record)) n += record.isMessage && test(record);
    return n;
}

} // namespace

TEST(DecodedOnce, EveryWriterHandsTheFindingsItsDecodingAndChangesNeither)
{
    const std::string capture = stallCapture();
    const Outcome alone = run(capture, [](MessageSource& in, Out&, Progress& p) { readAll(in, p); }, true);
    ASSERT_NE(alone.findings, "");
    const auto isShort = [](const CaptureRecord& r) { return r.shortLine; };
    const auto notSegment = [](const CaptureRecord& r) {
        return r.shortLine || instructionCode(r.field) != motion::kDataCode;
    };
    // Short messages, which the report and the steps CSV pass over and the
    // findings still read.
    ASSERT_GT(messages(capture, isShort), 0u);
    ASSERT_GT(messages(capture, notSegment), messages(capture, isShort));

    struct Case {
        const char* name;
        Writer write;
        // The messages that the writer does not decode: the tap decodes them.
        std::uint64_t notDecoded;
    };
    const Case cases[] = {
        {"report", [](MessageSource& in, Out& o, Progress& p) { writeReport(in, o, p); }, messages(capture, isShort)},
        {"json", [](MessageSource& in, Out& o, Progress& p) { writeJsonLines(in, o, p); }, 0},
        {"summary", [](MessageSource& in, Out& o, Progress& p) { writeSummary(in, "stall.txt", o, p); }, 0},
        {"steps",
         [](MessageSource& in, Out& o, Progress& p) {
             std::string console;
             Out con(&console);
             writeStepsCsv(in, o, con, p);
         },
         messages(capture, notSegment)},
        {"picture", [](MessageSource& in, Out& o, Progress& p) { writePicture(in, o, p, "stall.txt"); },
         messages(capture, notSegment)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome shared = run(capture, c.write, true);
        EXPECT_EQ(shared.decodedHere, c.notDecoded);
        EXPECT_EQ(shared.findings, alone.findings);
        EXPECT_EQ(shared.written, run(capture, c.write, false).written);
    }
    EXPECT_EQ(alone.decodedHere, messages(capture, [](const CaptureRecord&) { return true; }));
}

TEST(DecodedOnce, MessagesLeftOutAreDecodedByTheTapUnlessTheSummaryReadsThem)
{
    const std::string capture = stallCapture();
    const Outcome alone = run(capture, [](MessageSource& in, Out&, Progress& p) { readAll(in, p); }, true);
    const std::uint64_t notData =
        messages(capture, [](const CaptureRecord& r) { return instructionCode(r.field) != motion::kDataCode; });
    ASSERT_GT(notData, 0u);

    const Outcome json = run(capture, [](MessageSource& in, Out& o, Progress& p) { writeJsonLines(in, o, p); }, true, "D");
    EXPECT_EQ(json.decodedHere, notData);
    EXPECT_EQ(json.findings, alone.findings);

    const Writer summary = [](MessageSource& in, Out& o, Progress& p) { writeSummary(in, "stall.txt", o, p); };
    const Outcome shared = run(capture, summary, true, "D");
    EXPECT_EQ(shared.decodedHere, 0u);
    EXPECT_EQ(shared.findings, alone.findings);
    EXPECT_EQ(shared.written, run(capture, summary, false, "D").written);
}
