#include "run.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

#include "capture/capture.h"
#include "dump_stream.h"
#include "capture/instruction_filter.h"
#include "capture/source.h"
#include "dump_input.h"
#include "help.h"
#include "output/json_lines.h"
#include "base/out.h"
#include "output/picture.h"
#include "output/report.h"
#include "output/steps_csv.h"
#include "output/summary.h"
#include "base/platform.h"
#include "output/progress.h"
#include "output/viewer_page.h"

namespace vornlog {

namespace {

constexpr std::string_view kName = "Vornlog";
constexpr std::string_view kRelease = "0.04";
// The exit status of a file whose decoding was interrupted (as a shell
// gives a program that Ctrl-C ended).
constexpr int kInterruptedStatus = 130;

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

// The viewer page that -w fills: beside the program (the Windows ZIP), in
// the share folder beside its bin folder (an installed package), or in the
// build's viewer folder (a build tree). Empty, with the places looked at,
// when none is there.
std::string findViewerPage(std::string& page)
{
    const std::string folder = programFolder();
    const std::string name(kViewerPageName);
    const std::string places[] = {folder + "/" + name, folder + "/../share/vornlog/" + name,
                                  folder + "/../viewer/" + name};
    for (const std::string& place : places) {
        std::FILE* file = folder.empty() ? nullptr : openFile(place, "rb");
        if (!file) continue;
        page.clear();
        char block[1 << 16];
        std::size_t n = 0;
        while ((n = std::fread(block, 1, sizeof block, file)) > 0) page.append(block, n);
        const bool read = !std::ferror(file);
        std::fclose(file);
        if (read && isViewerPage(page)) return place;
    }
    return {};
}

// A followed file that became shorter is read again from its start.
void putTruncated(Out& console) { put<"\nFile truncated: read again from its start\n">(console); }
// A followed name that came to lead to a new file (-F): the new one is read
// from its start.
void putReplaced(Out& console) { put<"\nFile replaced: read the new file from its start\n">(console); }

// -w: the capture's bytes, as they are read (up to the end, or to Ctrl-C
// with -f or a pipe), put in the viewer page written to the dest file. The
// page decodes them itself; the console shows the bytes read.
int writeViewer(const Options& options, std::string_view page, Out& console, std::FILE* consoleFile, DumpStream& stream)
{
    const bool dumpIsStdin = options.dump == "-";
    const bool destIsStdout = options.dest == "-";
    std::string bytes;
    // A followed file read again from its start, or a new file under its
    // name: the page gets it from there.
    stream.onTruncated([&console, &bytes] {
        putTruncated(console);
        bytes.clear();
    });
    stream.onReplaced([&console, &bytes] {
        putReplaced(console);
        bytes.clear();
    });
    // A file's bytes go in one piece of its size (a pipe's, or a followed
    // file's growth, as they come).
    if (const auto size = fileSize(stream.file()); size && *size > 0 && *size < (std::uint64_t{1} << 40))
        bytes.reserve(static_cast<std::size_t>(*size));
    char block[1 << 16];
    std::size_t n = 0;
    std::int64_t shown = 0;
    while ((n = stream.read(block, sizeof block)) > 0) {
        bytes.append(block, n);
        const auto read = static_cast<std::int64_t>(bytes.size());
        if (read - shown >= (1 << 24)) {
            put<"\rBytes read: %d">(console, read);
            shown = read;
        }
    }
    put<"\rBytes read: %d">(console, static_cast<std::int64_t>(bytes.size()));
    const bool readError = stream.readError();
    std::FILE* const dump = stream.file();
    const bool same = destIsStdout ? sameFile(dump, stdout)
                      : dumpIsStdin ? sameFile(dump, options.dest)
                                    : sameFile(options.dump, options.dest);
    if (!dumpIsStdin) std::fclose(dump);
    if (readError) {
        put<"\n">(console);
        complain(console, kCantRead, options.dump);
        return 1;
    }
    if (stream.interrupted() && !stream.live()) {
        put<"\n">(console);
        console.flush();
        std::fflush(consoleFile);
        return kInterruptedStatus;
    }
    std::FILE* dest = same ? nullptr : destIsStdout ? standardOutput() : openFile(options.dest, "wb");
    if (!dest) {
        put<"\n">(console);
        complain(console, kCantWrite, options.dest);
        return 1;
    }
    bool writeError = false;
    {
        Out out(dest, false);
        const std::string name = dumpIsStdin ? "standard input" : fileNamePart(options.dump);
        writeViewerPage(page, ViewerCapture{bytes, name, options.deviceText, options.keepText}, out);
        writeError = !out.flush();
    }
    if (destIsStdout) {
        if (std::fflush(dest) != 0 || std::ferror(dest)) writeError = true;
    } else if (std::fclose(dest) != 0) {
        writeError = true;
    }
    if (writeError) {
        put<"\n">(console);
        complain(console, kCantWrite, options.dest);
        return 1;
    }
    put<"\n\nDone">(console);
    console.flush();
    std::fflush(consoleFile);
    if (options.viewer && !destIsStdout) showInViewer(options.dest, Viewer::ByType);
    return 0;
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
        else if (option[1] == 'n')
            options.viewer = false;
        else if (option[1] == 'q')
            options.quiet = true;
        else if (option[1] == 'p')
            options.mode = Mode::Picture;
        else if (option[1] == 't')
            options.mode = Mode::Summary;
        else if (option[1] == 'j')
            options.mode = Mode::Json;
        else if (option[1] == 'w')
            options.mode = Mode::Viewer;
        else if (option[1] == 'f')
            options.follow = true;
        else if (option[1] == 'F')
            options.follow = options.followName = true;
        else if (option[1] == 'd' || option[1] == 'i') {
            // -d BUS.ADDR or -dBUS.ADDR, -i LIST or -iLIST; the value is
            // never the dump file.
            std::string_view value = std::string_view(option).substr(2);
            if (value.empty()) {
                if (i + 3 >= args.size()) return std::nullopt;
                value = args[++i];
            }
            if (option[1] == 'd') {
                options.device = parseUsbDevice(value);
                if (!options.device) return std::nullopt;
                options.deviceText = value;
            } else {
                options.keep = InstructionFilter::parse(value);
                if (!options.keep) return std::nullopt;
                options.keepText = value;
            }
        } else
            return std::nullopt;
    }
    options.dump = args[args.size() - 2];
    options.dest = args[args.size() - 1];
    return options;
}

int run(const std::vector<std::string>& args)
{
    // --help and --version stand alone on the command line; anywhere else
    // they are options like any other, known by "--", and unknown.
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "--version")) {
        Out info(stdout, false);
        if (args[0] == "--help")
            putHelp(info);
        else
            put<"vornlog %s (%s rel. %s)\n">(info, packageVersion(), kName, kRelease);
        return info.flush() ? 0 : 1;
    }

    const std::optional<Options> options = parseCommandLine(args);
    if (!options) {
        Out console(stdout, false);
        put<"%s (rel. %s)\n">(console, kName, kRelease);
        putUsage(console);
        return 1;
    }

    // A dest file "-" is standard output: the console text moves to
    // standard error. A quiet run writes it to the null device.
    const bool dumpIsStdin = options->dump == "-";
    const bool destIsStdout = options->dest == "-";
    std::FILE* consoleFile = destIsStdout ? stderr : stdout;
    if (options->quiet) {
        consoleFile = openNullDevice();
        if (!consoleFile) {
            writeError(std::string(kCantWrite) + "the null device\n");
            return 1;
        }
    }
    struct CloseConsole {
        std::FILE* file;
        ~CloseConsole()
        {
            if (file != stdout && file != stderr) std::fclose(file);
        }
    } closeConsole{consoleFile};
    Out console(consoleFile, false);
    put<"%s (rel. %s)\n">(console, kName, kRelease);

    // -w: the viewer page is found before anything is read or written.
    std::string page;
    if (options->mode == Mode::Viewer && findViewerPage(page).empty()) {
        complain(console, "Can't find the viewer page " + std::string(kViewerPageName) +
                              " beside the program, in ../share/vornlog or in ../viewer from: ",
                 programFolder());
        return 1;
    }

    std::FILE* dump = dumpIsStdin ? standardInput() : openFile(options->dump, "rb");
    if (!dump) {
        complain(console, kCantRead, options->dump);
        return 1;
    }
    // From here on Ctrl-C ends the reading, not the run: what was read is
    // decoded and written as at the end of the capture.
    catchInterrupts();
    // -F follows the name of a file on a disk; standard input has none.
    DumpStream stream(dump, options->follow, options->followName && !dumpIsStdin ? options->dump : std::string());
    // Before the reading waits for more of a live capture, everything
    // written so far goes out.
    stream.onWait([&console, consoleFile] {
        console.flush();
        std::fflush(consoleFile);
    });
    stream.onTruncated([&console] { putTruncated(console); });
    stream.onReplaced([&console] { putReplaced(console); });
    if (options->mode == Mode::Viewer) return writeViewer(*options, page, console, consoleFile, stream);
    // A USB capture is read until its device is known before the dest file
    // is touched.
    std::optional<DumpInput> input(std::in_place, stream, options->device, console);
    if (!input->problem().empty()) {
        if (!dumpIsStdin) std::fclose(stream.file());
        complain(console, input->problem(), options->dump);
        return 1;
    }
    // Opening the capture itself for writing would empty it; writing to a
    // capture that is being read would make it grow as long as it is read.
    // Standard input and output are checked as the files they stand for.
    bool same = false;
    if (destIsStdout)
        same = sameFile(stream.file(), stdout);
    else if (dumpIsStdin)
        same = sameFile(dump, options->dest);
    else
        same = sameFile(options->dump, options->dest);
    std::FILE* dest = same ? nullptr : destIsStdout ? standardOutput() : openFile(options->dest, "wb");
    if (!dest) {
        if (!dumpIsStdin) std::fclose(stream.file());
        complain(console, kCantWrite, options->dest);
        return 1;
    }

    bool readError = false;
    bool writeError = false;
    bool interrupted = false;
    std::string fault;
    {
        MessageSource& in = input->source();
        Out out(dest);
        out.escapeControls(isTerminal(dest));
        stream.onWait([&] {
            out.flush();
            std::fflush(dest);
            console.flush();
            std::fflush(consoleFile);
        });
        // A console that is not a terminal gets the progress line now and
        // then, not for every line.
        Progress progress(console, isTerminal(consoleFile));
        // -i: the report gets the messages of the instructions kept alone.
        std::optional<FilteredSource> kept;
        if (options->keep) kept.emplace(in, *options->keep);
        MessageSource& reported = kept ? static_cast<MessageSource&>(*kept) : in;
        if (options->mode == Mode::Steps)
            writeStepsCsv(in, out, console, progress);
        else if (options->mode == Mode::Picture)
            writePicture(in, out, progress, dumpIsStdin ? "standard input" : fileNamePart(options->dump));
        else if (options->mode == Mode::Summary)
            writeSummary(in, dumpIsStdin ? "standard input" : options->dump, out, progress,
                         options->keep ? &*options->keep : nullptr);
        else if (options->mode == Mode::Json)
            writeJsonLines(in, out, progress, options->keep ? &*options->keep : nullptr);
        else
            writeReport(reported, out, progress);
        stream.onWait(nullptr);
        progress.finish();
        readError = in.readError();
        fault = in.fault();
        interrupted = in.interrupted();
        writeError = !out.flush();
        if (interrupted) {
            const char* what = input->usb() ? "packet" : "line";
            if (progress.lines() == 0)
                put<"\nReading interrupted before the first %s">(console, std::string_view(what));
            else
                put<"\nReading interrupted after %s %d">(console, std::string_view(what), progress.lines());
        }
        input->conclude(console);
    }
    // Everything read is closed before the viewer starts: it gets no handle
    // on the capture.
    input.reset();
    if (!dumpIsStdin) std::fclose(stream.file());
    if (destIsStdout) {
        if (std::fflush(dest) != 0 || std::ferror(dest)) writeError = true;
    } else if (std::fclose(dest) != 0) {
        writeError = true;
    }

    if (readError || writeError || !fault.empty()) {
        put<"\n">(console);
        if (readError)
            complain(console, kCantRead, options->dump);
        else if (writeError)
            complain(console, kCantWrite, options->dest);
        else
            complain(console, "Damaged capture file, " + fault + ": ", options->dump);
        return 1;
    }
    // Interrupting is how a live capture ends; the decoding of a file on a
    // disk that was cut short must not pass for a whole run.
    if (interrupted && !stream.live()) {
        put<"\n">(console);
        console.flush();
        std::fflush(consoleFile);
        return kInterruptedStatus;
    }

    put<"\n\nDone">(console);
    console.flush();
    std::fflush(consoleFile);
    if (options->viewer && !destIsStdout)
        showInViewer(options->dest, options->mode == Mode::Steps || options->mode == Mode::Picture ? Viewer::ByType
                                                                                                   : Viewer::Text);
    return 0;
}

} // namespace vornlog
