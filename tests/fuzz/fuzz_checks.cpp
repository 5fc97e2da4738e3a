#include "fuzz_checks.h"

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "capture/capture.h"
#include "capture/source.h"
#include "capture_reference.h"
#include "output/json_lines.h"
#include "base/out.h"
#include "output/picture.h"
#include "output/report.h"
#include "../report_lines.h"
#include "output/steps_csv.h"
#include "output/summary.h"
#include "output/progress.h"

namespace vornlog::fuzz {

namespace {

// The most report one capture line may give; far above what any message
// of at most 83 bytes decodes to, low enough to catch a runaway loop.
constexpr std::size_t kMaxLineReport = 64 * 1024;

using Loop = std::function<void(LineReader&, Out& dest, Out& console, Progress&)>;

struct Run {
    std::string dest;
    std::string console;
};

// Output buffers far smaller than the program's: the report is flushed
// many times per input, and the fuzzer does not spend its time on pages.
Run runLoop(LineReader& in, const Loop& loop, std::size_t outBuffer = 4096)
{
    Run run;
    {
        Out dest(&run.dest, false, outBuffer);
        Out console(&run.console, false, outBuffer);
        Progress progress(console);
        loop(in, dest, console, progress);
    }
    return run;
}

// The capture as the program reads a dump file: through a stdio stream.
Run runFromStream(std::string_view capture, const Loop& loop)
{
    std::FILE* file = capture.empty() ? std::fopen("/dev/null", "rb")
                                      : fmemopen(const_cast<char*>(capture.data()), capture.size(), "rb");
    if (!file) fail("cannot open the capture as a stream");
    Run run;
    {
        LineReader in(file);
        run = runLoop(in, loop);
        if (in.readError()) fail("read error on an in-memory stream");
    }
    std::fclose(file);
    return run;
}

// Every way of reading the capture must give the same output and console.
Run runEveryWay(std::string_view capture, const Loop& loop)
{
    LineReader whole(capture);
    const Run reference = runLoop(whole, loop);

    const Run streamed = runFromStream(capture, loop);
    if (streamed.dest != reference.dest) fail("stream and memory reading differ", reference.dest, streamed.dest);
    if (streamed.console != reference.console) fail("console differs between stream and memory reading");

    // Small blocks put block boundaries inside lines, inside "\r\n" pairs
    // and right after 254-character pieces; the size is picked by the input.
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : capture) hash = (hash ^ c) * 16777619u;
    for (const std::size_t block : {std::size_t{1}, std::size_t{2} + hash % 300}) {
        LineReader in(capture, block);
        const Run run = runLoop(in, loop, 64 + block);
        if (run.dest != reference.dest) fail("reading in small blocks changes the output", reference.dest, run.dest);
        if (run.console != reference.console) fail("reading in small blocks changes the console");
    }
    return reference;
}

bool isDecimal(std::string_view s, bool allowSign)
{
    if (allowSign && !s.empty() && s[0] == '-') {
        s.remove_prefix(1);
        if (s == "0") return false;
    }
    if (s.empty() || s.size() > 10 || (s[0] == '0' && s.size() > 1)) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

bool isByte(std::string_view s) { return isDecimal(s, false) && std::stol(std::string(s)) <= 255; }

std::vector<std::string_view> splitFields(std::string_view row)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t semi = row.find(';');
        fields.push_back(row.substr(0, semi));
        if (semi == std::string_view::npos) return fields;
        row.remove_prefix(semi + 1);
    }
}

void checkRow(std::string_view row)
{
    const std::vector<std::string_view> f = splitFields(row);
    if (f.size() == 2) {
        if (!isDecimal(f[0], false) || f[1] != "-") fail("malformed end-of-data row", {}, row);
        return;
    }
    if (f.size() != 12) fail("a CSV row has neither 12 nor 2 fields", {}, row);
    if (!isDecimal(f[0], false) || std::stol(std::string(f[0])) > 0xFFFFFF) fail("bad Cur_seg", {}, row);
    if (f[1].size() < 2 || f[1].back() != '%' || !isDecimal(f[1].substr(0, f[1].size() - 1), false))
        fail("bad Buffer", {}, row);
    for (int i = 2; i <= 7; ++i)
        if (!isDecimal(f[i], true)) fail("bad pulse or step count", {}, row);
    if (!f[8].empty() && !isByte(f[8])) fail("bad PWM", {}, row);
    const bool acc = !f[9].empty() || !f[10].empty() || !f[11].empty();
    if (acc && (!isByte(f[9]) || !isByte(f[10]) || !isDecimal(f[11], true)))
        fail("acceleration fields neither all empty nor all set", {}, row);
}

// The number on the summary line that begins with `label`.
std::string_view summaryCount(std::string_view summary, std::string_view label)
{
    const std::size_t at = summary.find("\n  " + std::string(label) + " ");
    if (at == std::string_view::npos) fail("the summary has no line", label, summary);
    std::string_view line = summary.substr(at + 1);
    line = line.substr(0, line.find('\n'));
    return line.substr(line.find_last_of(' ') + 1);
}

// The session summary of the same capture: it reads every line, and decodes
// exactly the messages that the report echoes and those of short lines.
void checkSummary(std::string_view capture, std::size_t lineCount, std::size_t messageCount)
{
    std::string summary, console;
    {
        LineReader lines(capture, 4096);
        TextDumpSource in(lines);
        Out dest(&summary);
        Out con(&console);
        Progress progress(con);
        writeSummary(in, "capture.txt", dest, progress);
    }
    if (summaryCount(summary, "Lines read") != std::to_string(lineCount))
        fail("the summary does not count every capture line", std::to_string(lineCount), summary);
    if (summaryCount(summary, "Messages decoded") != std::to_string(messageCount))
        fail("the summary does not decode the messages the report echoes and those of short lines",
             std::to_string(messageCount), summary);
}

// True when `text` is well-formed UTF-8.
bool validUtf8(std::string_view text)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0, n = text.size(); i < n;) {
        const unsigned char b = s[i];
        const std::size_t length = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3
                                                : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
        if (length == 0 || i + length > n) return false;
        std::uint32_t cp = length == 1 ? b : b & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            cp = cp << 6 | (s[i + k] & 0x3F);
        }
        constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

// The JSON Lines of the same capture: one line for each message that the
// report echoes, each an object on one line, in UTF-8, with no control
// character left unescaped.
void checkJsonLines(std::string_view capture, std::size_t messageCount)
{
    std::string json, console;
    {
        LineReader lines(capture, 4096);
        TextDumpSource in(lines);
        Out dest(&json, false, 4096);
        Out con(&console);
        Progress progress(con);
        writeJsonLines(in, dest, progress);
    }
    if (!validUtf8(json)) fail("the JSON Lines are not UTF-8", {}, json);
    std::size_t count = 0;
    for (std::string_view rest = json; !rest.empty(); ++count) {
        const std::size_t nl = rest.find('\n');
        if (nl == std::string_view::npos) fail("the JSON Lines end inside a line", {}, json);
        const std::string_view line = rest.substr(0, nl);
        if (!line.starts_with("{\"number\":") || !line.ends_with("]}")) fail("a JSON line is no message object", {}, line);
        for (char c : line)
            if (static_cast<unsigned char>(c) < 0x20) fail("a JSON line holds a control character", {}, line);
        rest.remove_prefix(nl + 1);
    }
    if (count != messageCount)
        fail("the JSON Lines do not hold the messages the report echoes and those of short lines",
             std::to_string(messageCount), json);
}

} // namespace

void fail(const char* what, std::string_view expected, std::string_view got)
{
    std::fprintf(stderr, "\nFUZZ CHECK FAILED: %s\n", what);
    if (!expected.empty() || !got.empty())
        std::fprintf(stderr, "--- expected (%zu bytes)\n%.*s\n--- got (%zu bytes)\n%.*s\n", expected.size(),
                     static_cast<int>(std::min<std::size_t>(expected.size(), 4000)), expected.data(), got.size(),
                     static_cast<int>(std::min<std::size_t>(got.size(), 4000)), got.data());
    std::abort();
}

void checkReport(std::string_view capture)
{
    const Run run = runEveryWay(capture, [](LineReader& in, Out& dest, Out&, Progress& progress) {
        writeReport(in, dest, progress);
    });

    const std::vector<std::string> lines = reference::captureLines(capture);
    if (run.console != reference::progressText(lines.size())) fail("the progress line does not count every capture line");

    // Decoded one by one, last line first: a decoder that kept anything from
    // one message to the next would now give a different report.
    std::vector<std::string> pieces(lines.size());
    std::string all;
    {
        Out out(&all, false, 4096);
        for (std::size_t i = lines.size(); i-- > 0;) {
            const std::size_t before = all.size();
            reportLine(lines[i], out);
            out.flush();
            pieces[i] = all.substr(before);
        }
    }
    std::string joined;
    for (const std::string& piece : pieces) joined += piece;
    if (joined != run.dest) fail("the report is not the reports of its lines one after the other", joined, run.dest);

    std::size_t messages = 0, shortMessages = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& piece = pieces[i];
        const std::string echo = reference::echoLine(lines[i]);
        messages += !echo.empty();
        shortMessages += reference::shortMessage(lines[i]);
        if (echo.empty()) {
            if (!piece.empty()) fail("a line without a message writes to the report", lines[i], piece);
            continue;
        }
        if (piece.compare(0, echo.size(), echo) != 0) fail("the report of a line does not begin with its echo", echo, piece);
        if (piece.size() == echo.size()) fail("a message has no instruction line", lines[i], piece);
        if (piece.back() != '\n') fail("the report of a message ends inside a line", lines[i], piece);
        if (piece.size() > kMaxLineReport) fail("the report of one line is unreasonably long", lines[i]);
    }
    // The summary and the JSON Lines read the messages of short lines too.
    checkSummary(capture, lines.size(), messages + shortMessages);
    checkJsonLines(capture, messages + shortMessages);
}

void checkStepsCsv(std::string_view capture)
{
    const Run run = runEveryWay(capture, [](LineReader& in, Out& dest, Out& console, Progress& progress) {
        writeStepsCsv(in, dest, console, progress);
    });

    const std::vector<std::string> lines = reference::captureLines(capture);
    // Appended: g++ 12 at -O3 warns falsely (-Wrestrict) on "\n" + std::string&&.
    std::string progress(1, '\n');
    progress += reference::progressText(lines.size());
    if (run.console != progress) fail("the progress line does not count every capture line");

    std::size_t replies = 0;
    for (const std::string& line : lines) {
        bool pc = false;
        std::string_view field;
        if (reference::dataField(line, pc, field) && !pc) ++replies;
    }

    static constexpr std::string_view kHeader = "Cur_seg;Buffer;Nbr pulse;S1;S2;S3;S4;S5;PWM;F_ACC;F_DEC;Nbr dec\n";
    std::string_view csv = run.dest;
    if (csv.substr(0, kHeader.size()) != kHeader) fail("the steps CSV does not begin with its header", kHeader, csv);
    csv.remove_prefix(kHeader.size());
    std::size_t rows = 0;
    while (!csv.empty()) {
        const std::size_t nl = csv.find('\n');
        if (nl == std::string_view::npos) fail("the steps CSV ends inside a row", {}, csv);
        checkRow(csv.substr(0, nl));
        csv.remove_prefix(nl + 1);
        ++rows;
    }
    if (rows > replies) fail("more CSV rows than controller messages");
}

void checkPicture(std::string_view capture)
{
    const Run run = runEveryWay(capture, [](LineReader& in, Out& dest, Out&, Progress& progress) {
        TextDumpSource source(in);
        writePicture(source, dest, progress, "fuzz.txt");
    });
    if (run.console != reference::progressText(reference::captureLines(capture).size()))
        fail("the progress line does not count every capture line");

    std::string csv;
    {
        LineReader in(capture);
        Out dest(&csv, false, 4096);
        std::string console;
        Out consoleOut(&console, false, 4096);
        Progress progress(consoleOut);
        writeStepsCsv(in, dest, consoleOut, progress);
    }
    std::size_t segments = 0;
    for (std::size_t at = csv.find('\n'); at != std::string::npos && at + 1 < csv.size(); at = csv.find('\n', at + 1))
        if (csv.compare(csv.find(';', at + 1), 2, ";-") != 0) ++segments;
    const std::string title = "fuzz.txt: " + std::to_string(segments) + (segments == 1 ? " segment stored<" : " segments stored<");
    const std::string_view svg = run.dest;
    if (svg.substr(0, 5) != "<?xml" || svg.size() < 7 || svg.substr(svg.size() - 7) != "</svg>\n")
        fail("the picture is not a whole document", {}, svg);
    if (svg.find(title) == std::string_view::npos) fail("the picture's title does not count the CSV's rows", title, svg);
    if (svg.find("nan") != std::string_view::npos || svg.find("inf") != std::string_view::npos)
        fail("the picture holds a number that is not one", {}, svg);
}

} // namespace vornlog::fuzz
