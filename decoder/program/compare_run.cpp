#include "compare_run.h"

#include <memory>
#include <string>

#include "analysis/session_compare.h"
#include "base/platform.h"
#include "capture/dump_input.h"
#include "dump_stream.h"
#include "compare_page_text.h"
#include "output/compare_page.h"
#include "output/progress.h"
#include "output/session_compare.h"

namespace vornlog {

namespace {

// A message on standard error, after what the console already shows.
void complain(Out& console, std::FILE* consoleFile, std::string_view message, const std::string& name)
{
    console.flush();
    std::fflush(consoleFile);
    std::fflush(stdout);
    writeError(std::string(message) + name + "\n");
}

// A capture, open, read whole into the profile of its run.
struct ReadRun {
    std::unique_ptr<compare::RunProfile> profile;
    std::string format;
};

// Reads `file` to its end; the problem that the name
// completes when it cannot be.
// `keepShown`: each stored segment is kept as the page shows it.
std::string readRun(std::FILE* file, std::optional<UsbDevice> device, bool keepShown, Out& console,
                    std::FILE* consoleFile, ReadRun& run)
{
    DumpStream stream(file, false);
    DumpInput input(stream, device, console);
    if (!input.problem().empty()) return input.problem();
    MessageSource& source = input.source();
    source.readTimes();
    run.profile = std::make_unique<compare::RunProfile>(source.format() == "text dump");
    if (keepShown) run.profile->keepShown();
    run.format = source.format();
    Progress progress(console, isTerminal(consoleFile));
    CaptureRecord record;
    while (source.next(record)) {
        progress.count();
        run.profile->feed(record);
    }
    progress.finish();
    run.profile->finish();
    if (source.readError()) return kCantRead;
    if (!source.fault().empty()) return "Damaged capture file, " + source.fault() + ": ";
    input.conclude(console);
    put<"\n">(console);
    return {};
}

std::string shownName(const std::string& name) { return name == "-" ? "standard input" : fileNamePart(name); }

} // namespace

int compareSessions(const Options& options, Out& console, std::FILE* consoleFile)
{
    const RunMode& mode = *findRunMode(options.mode);
    const bool page = mode.letter == 'w';
    if (page && !isComparePage(comparePageText())) {
        complain(console, consoleFile, "This vornlog was built without the comparison's page, can't write: ",
                 options.dest);
        return 1;
    }
    const bool afterIsStdin = options.dump == "-";
    std::FILE* files[2] = {openFile(options.before, "rb"), nullptr};
    if (!files[0]) {
        complain(console, consoleFile, kCantRead, options.before);
        return 1;
    }
    files[1] = afterIsStdin ? standardInput() : openFile(options.dump, "rb");
    const auto closeInputs = [&files, afterIsStdin] {
        if (files[0]) std::fclose(files[0]);
        if (files[1] && !afterIsStdin) std::fclose(files[1]);
        files[0] = files[1] = nullptr;
    };
    if (!files[1]) {
        closeInputs();
        complain(console, consoleFile, kCantRead, options.dump);
        return 1;
    }
    // The dest file may be neither capture: opening it would empty it.
    const bool destIsInput = options.dest == "-"
                                 ? sameFile(files[0], stdout) || sameFile(files[1], stdout)
                                 : sameFile(files[0], options.dest) || sameFile(files[1], options.dest);
    if (destIsInput) {
        closeInputs();
        complain(console, consoleFile, kCantWrite, options.dest);
        return 1;
    }

    ReadRun runs[2];
    const std::string* names[2] = {&options.before, &options.dump};
    const std::optional<UsbDevice> devices[2] = {options.device,
                                                 options.afterDevice ? options.afterDevice : options.device};
    for (int side = 0; side < 2; ++side) {
        const std::string problem = readRun(files[side], devices[side], page, console, consoleFile, runs[side]);
        if (!problem.empty()) {
            closeInputs();
            put<"\n">(console);
            complain(console, consoleFile, problem, *names[side]);
            return 1;
        }
    }
    closeInputs();

    const compare::Comparison comparison = compare::compareRuns(*runs[0].profile, *runs[1].profile);
    std::FILE* dest = options.dest == "-" ? standardOutput() : openFile(options.dest, "wb");
    if (!dest) {
        complain(console, consoleFile, kCantWrite, options.dest);
        return 1;
    }
    bool written = true;
    {
        Out out(dest, false);
        const ComparedRun before{*runs[0].profile, shownName(options.before), runs[0].format};
        const ComparedRun after{*runs[1].profile, shownName(options.dump), runs[1].format};
        if (page)
            writeComparePage(comparePageText(), comparison, before, after, out);
        else if (mode.letter == 'j')
            writeComparisonLines(comparison, before, after, out);
        else
            writeComparisonText(comparison, before, after, out);
        written = out.flush();
    }
    if (options.dest == "-")
        written = std::fflush(dest) == 0 && !std::ferror(dest) && written;
    else
        written = std::fclose(dest) == 0 && written;
    if (!written) {
        complain(console, consoleFile, kCantWrite, options.dest);
        return 1;
    }
    put<"\nDone">(console);
    console.flush();
    std::fflush(consoleFile);
    if (options.viewer && options.dest != "-") showInViewer(options.dest, mode.viewer);
    const unsigned made = compare::newInAfter(comparison, *runs[0].profile, *runs[1].profile);
    return made & options.failOn ? kFindingsStatus : 0;
}

} // namespace vornlog
