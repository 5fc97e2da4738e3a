#include "run.h"

#include <cstdio>
#include <string_view>

#include "capture.h"
#include "motion/steps_csv.h"
#include "out.h"
#include "platform.h"
#include "progress.h"
#include "report.h"
#include "source.h"

namespace vornlog {

namespace {

constexpr std::string_view kName = "Vornlog";
constexpr std::string_view kRelease = "0.04";

void putUsage(Out& console)
{
    put<"\n">(console);
    put<"Usage:\n">(console);
    put<"   %s [-s|-v] <dump file> <dest file>\n">(console, kName);
    put<"Options:\n">(console);
    put<"   -s  extract steps information only in CSV format\n">(console);
    put<"   -v  Full details on all instructions\n">(console);
    put<"   -h  this help\n">(console);
    put<"\n">(console);
}

// A message on standard error, after what the console already shows.
void complain(Out& console, std::string_view message, const std::string& name)
{
    console.flush();
    std::fflush(stdout);
    std::string text(message);
    text += name;
    text += '\n';
    writeError(text);
}

} // namespace

std::optional<Options> parseCommandLine(const std::vector<std::string>& args)
{
    if (args.size() < 2) return std::nullopt;
    Options options;
    for (std::size_t i = 0; i + 2 < args.size(); ++i) {
        const std::string& option = args[i];
        if (option.size() < 2 || option[0] != '-') return std::nullopt;
        if (option[1] == 's')
            options.mode = Mode::Steps;
        else if (option[1] == 'v')
            options.mode = Mode::Report;
        else
            return std::nullopt;
    }
    options.dump = args[args.size() - 2];
    options.dest = args[args.size() - 1];
    return options;
}

int run(const std::vector<std::string>& args)
{
    Out console(stdout, false);
    put<"%s (rel. %s)\n">(console, kName, kRelease);

    const std::optional<Options> options = parseCommandLine(args);
    if (!options) {
        putUsage(console);
        return 1;
    }

    std::FILE* dump = openFile(options->dump, "rb");
    if (!dump) {
        complain(console, "Can't read the file: ", options->dump);
        return 1;
    }
    // Opening the capture itself for writing would empty it.
    std::FILE* dest = sameFile(options->dump, options->dest) ? nullptr : openFile(options->dest, "wb");
    if (!dest) {
        std::fclose(dump);
        complain(console, "Can't write to file: ", options->dest);
        return 1;
    }

    bool readError = false;
    bool writeError = false;
    {
        LineReader lines(dump);
        TextDumpSource in(lines);
        Out out(dest);
        Progress progress(console);
        if (options->mode == Mode::Steps)
            writeStepsCsv(in, out, console, progress);
        else
            writeReport(in, out, progress);
        readError = in.readError();
        writeError = !out.flush();
    }
    std::fclose(dump);
    if (std::fclose(dest) != 0) writeError = true;

    if (readError || writeError) {
        put<"\n">(console);
        if (readError)
            complain(console, "Can't read the file: ", options->dump);
        else
            complain(console, "Can't write to file: ", options->dest);
        return 1;
    }

    put<"\n\nDone">(console);
    console.flush();
    std::fflush(stdout);
    showInViewer(options->dest, options->mode == Mode::Steps ? Viewer::Csv : Viewer::Text);
    return 0;
}

} // namespace vornlog
