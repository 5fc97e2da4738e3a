#include "run.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>

#include "capture/capture.h"
#include "dump_stream.h"
#include "capture/instruction_filter.h"
#include "capture/source.h"
#include "dump_input.h"
#include "help.h"
#include "live_viewer.h"
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

// Everything the console got so far goes out.
void flushConsole(Out& console, std::FILE* consoleFile)
{
    console.flush();
    std::fflush(consoleFile);
}

// The console's file: standard output, standard error when the dest file
// is standard output ("-"), the null device for a quiet run (null when it
// cannot be opened). Closed at the end of the run when it was opened.
class ConsoleFile {
public:
    explicit ConsoleFile(const Options& options)
        : file_(options.quiet ? openNullDevice() : options.dest == "-" ? stderr : stdout)
    {
    }
    ConsoleFile(const ConsoleFile&) = delete;
    ConsoleFile& operator=(const ConsoleFile&) = delete;
    ~ConsoleFile()
    {
        if (file_ && file_ != stdout && file_ != stderr) std::fclose(file_);
    }
    std::FILE* get() const { return file_; }

private:
    std::FILE* file_;
};

// The same-file guard: opening the capture itself for writing would empty
// it; writing to a capture that is being read would make it grow as long
// as it is read. Standard input and output are checked as the files they
// stand for.
bool destIsDump(const Options& options, std::FILE* dump)
{
    if (options.dest == "-") return sameFile(dump, stdout);
    if (options.dump == "-") return sameFile(dump, options.dest);
    return sameFile(options.dump, options.dest);
}

// The dest file open for writing: standard output for "-"; null when it is
// the dump file or cannot be opened.
std::FILE* openDest(const Options& options, bool isDump)
{
    if (isDump) return nullptr;
    return options.dest == "-" ? standardOutput() : openFile(options.dest, "wb");
}

// Closes the dest file (standard output is flushed, not closed); false when
// what was written did not all reach it.
bool closeDest(const Options& options, std::FILE* dest)
{
    if (options.dest == "-") return std::fflush(dest) == 0 && !std::ferror(dest);
    return std::fclose(dest) == 0;
}

// The end of a run that wrote its dest file: the closing words, the dest
// file in its viewer.
int done(const Options& options, Out& console, std::FILE* consoleFile, Viewer viewer)
{
    put<"\n\nDone">(console);
    flushConsole(console, consoleFile);
    if (options.viewer && options.dest != "-") showInViewer(options.dest, viewer);
    return 0;
}

// A file on a disk whose reading was interrupted: its decoding was cut
// short and must not pass for a whole run. (Interrupting is how a live
// capture ends.)
int interruptedStatus(Out& console, std::FILE* consoleFile)
{
    put<"\n">(console);
    flushConsole(console, consoleFile);
    return kInterruptedStatus;
}

// -w: the capture's bytes, as they are read (up to the end, or to Ctrl-C
// with -f or a pipe), put in the viewer page written to the dest file. The
// page decodes them itself; the console shows the bytes read. The bytes
// are compressed as they come, on two threads: only the compressed ones
// are kept until the page is written.
//
// -l: the same, and the live viewer serves the bytes as they are read; it
// is told where the page went.
int writeViewer(const Options& options, std::string_view page, Out& console, std::FILE* consoleFile, DumpStream& stream,
                LiveViewer* live)
{
    const bool dumpIsStdin = options.dump == "-";
    ZlibWriter compressed(runTogether);
    // A followed file read again from its start, or a new file under its
    // name: the page gets it from there.
    stream.onTruncated([&console, &compressed, live] {
        putTruncated(console);
        compressed.restart();
        if (live) live->restart();
    });
    stream.onReplaced([&console, &compressed, live] {
        putReplaced(console);
        compressed.restart();
        if (live) live->restart();
    });
    constexpr std::size_t kRead = std::size_t{1} << 20;
    const auto block = std::make_unique<char[]>(kRead);
    std::uint64_t shown = 0;
    const auto showRead = [&] {
        shown = compressed.added();
        put<"\rBytes read: %d">(console, static_cast<std::int64_t>(shown));
    };
    std::size_t n = 0;
    while ((n = stream.read(block.get(), kRead)) > 0) {
        if (live) live->add(std::string_view(block.get(), n));
        compressed.add(std::string_view(block.get(), n));
        if (compressed.added() - shown >= (1 << 24)) showRead();
    }
    showRead();
    const bool readError = stream.readError();
    std::FILE* const dump = stream.file();
    const bool isDump = destIsDump(options, dump);
    if (!dumpIsStdin) std::fclose(dump);
    if (readError) {
        put<"\n">(console);
        complain(console, kCantRead, options.dump);
        return 1;
    }
    if (stream.interrupted() && !stream.live()) return interruptedStatus(console, consoleFile);
    std::FILE* dest = openDest(options, isDump);
    if (!dest) {
        put<"\n">(console);
        complain(console, kCantWrite, options.dest);
        return 1;
    }
    bool writeError = false;
    {
        Out out(dest, false);
        const std::string name = dumpIsStdin ? "standard input" : fileNamePart(options.dump);
        writeViewerPage(page, ViewerCapture{compressed, name, options.deviceText, options.keepText}, out);
        writeError = !out.flush();
    }
    if (!closeDest(options, dest)) writeError = true;
    if (writeError) {
        put<"\n">(console);
        complain(console, kCantWrite, options.dest);
        return 1;
    }
    if (live) {
        live->end(options.dest == "-" ? std::string("standard output") : fullPath(options.dest));
        return 0;
    }
    return done(options, console, consoleFile, Viewer::ByType);
}

// -l: the live viewer serves the page while the capture is read, then the
// page of everything read is written as -w writes it. Serving goes on
// until Ctrl-C; when Ctrl-C ended the reading, the open pages are given a
// moment to hear where the page was saved.
int writeLive(const Options& options, std::string_view page, Out& console, std::FILE* consoleFile, DumpStream& stream)
{
    const bool dumpIsStdin = options.dump == "-";
    std::string problem;
    bool portTaken = false;
    std::unique_ptr<LiveViewer> live =
        LiveViewer::start(options.port, page, dumpIsStdin ? "standard input" : fileNamePart(options.dump),
                          options.deviceText, options.keepText, problem, portTaken);
    if (!live) {
        if (!dumpIsStdin) std::fclose(stream.file());
        if (portTaken)
            complain(console, "Can't listen on port ", std::to_string(options.port));
        else
            complain(console, "Can't start the live viewer: ", problem);
        return 1;
    }
    // The address goes to standard output even in a quiet run (to standard
    // error when the page itself goes to standard output).
    {
        flushConsole(console, consoleFile);
        std::FILE* shown = options.dest == "-" ? stderr : stdout;
        Out address(shown, false);
        put<"Live viewer: %s\n">(address, std::string_view(live->address()));
        address.flush();
        std::fflush(shown);
    }
    if (options.viewer) showAddress(live->address());
    const int status = writeViewer(options, page, console, consoleFile, stream, live.get());
    if (status != 0 || stream.interrupted()) {
        // A failure, or Ctrl-C: the pages that watch hear it, then the run
        // ends.
        if (status != 0) live->end({});
        live->stop(2000);
        if (status == 0) put<"\n\nDone">(console);
        flushConsole(console, consoleFile);
        return status;
    }
    put<"\n\nDone; the live viewer serves until Ctrl-C">(console);
    flushConsole(console, consoleFile);
    while (!interruptRequested()) pause(1000);
    live->stop(0);
    put<"\n">(console);
    flushConsole(console, consoleFile);
    return 0;
}

// Whether a mode lists the capture's messages, which -i chooses among; the
// steps CSV and the picture show the motion, made of every Data message.
bool listsMessages(Mode mode) { return mode == Mode::Report || mode == Mode::Summary || mode == Mode::Json; }

// The mode's writer over the records of `in`: -i leaves the other
// instructions out of every mode that lists messages, one way for all.
void writeMode(const Options& options, MessageSource& in, Out& dest, Out& console, Progress& progress)
{
    std::optional<FilteredSource> kept;
    if (options.keep && listsMessages(options.mode)) kept.emplace(in, *options.keep);
    MessageSource& source = kept ? static_cast<MessageSource&>(*kept) : in;
    const bool dumpIsStdin = options.dump == "-";
    switch (options.mode) {
    case Mode::Steps: writeStepsCsv(source, dest, console, progress); break;
    case Mode::Picture:
        writePicture(source, dest, progress, dumpIsStdin ? "standard input" : fileNamePart(options.dump));
        break;
    case Mode::Summary: writeSummary(source, dumpIsStdin ? "standard input" : options.dump, dest, progress); break;
    case Mode::Json: writeJsonLines(source, dest, progress); break;
    case Mode::Report:
    case Mode::Viewer:
    case Mode::Live: writeReport(source, dest, progress); break;
    }
}

// How the decoding of the capture ended.
struct Decoded {
    bool readError = false;
    bool writeError = false;
    bool interrupted = false;
    std::string fault;
};

// Decodes the capture into the dest file in the run's mode, with the
// progress line and the console's last words on the reading. Before the
// reading waits for more of a live capture, the dest file and the console
// get everything written so far.
Decoded decodeCapture(const Options& options, DumpInput& input, DumpStream& stream, std::FILE* dest, Out& console,
                      std::FILE* consoleFile)
{
    Decoded result;
    MessageSource& in = input.source();
    Out out(dest);
    out.escapeControls(isTerminal(dest));
    stream.onWait([&] {
        out.flush();
        std::fflush(dest);
        flushConsole(console, consoleFile);
    });
    // A console that is not a terminal gets the progress line now and
    // then, not for every line.
    Progress progress(console, isTerminal(consoleFile));
    writeMode(options, in, out, console, progress);
    stream.onWait(nullptr);
    progress.finish();
    result.readError = in.readError();
    result.fault = in.fault();
    result.interrupted = in.interrupted();
    result.writeError = !out.flush();
    if (result.interrupted) {
        const char* what = input.usb() ? "packet" : "line";
        if (progress.lines() == 0)
            put<"\nReading interrupted before the first %s">(console, std::string_view(what));
        else
            put<"\nReading interrupted after %s %d">(console, std::string_view(what), progress.lines());
    }
    input.conclude(console);
    return result;
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
        else if (option[1] == 'l')
            options.mode = Mode::Live;
        else if (option.rfind("--port=", 0) == 0) {
            // --port=N: 1 to 65535, digits only.
            const std::string_view digits = std::string_view(option).substr(7);
            int port = 0;
            for (char c : digits) {
                if (c < '0' || c > '9' || port > 65535) return std::nullopt;
                port = port * 10 + (c - '0');
            }
            if (digits.empty() || port < 1 || port > 65535) return std::nullopt;
            options.port = port;
        }
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

    const bool dumpIsStdin = options->dump == "-";
    const ConsoleFile consoleFile(*options);
    if (!consoleFile.get()) {
        writeError(std::string(kCantWrite) + "the null device\n");
        return 1;
    }
    Out console(consoleFile.get(), false);
    put<"%s (rel. %s)\n">(console, kName, kRelease);

    // -w, -l: the viewer page is found before anything is read or written.
    std::string page;
    const bool pageMode = options->mode == Mode::Viewer || options->mode == Mode::Live;
    if (pageMode && findViewerPage(page).empty()) {
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
    stream.onWait([&console, &consoleFile] { flushConsole(console, consoleFile.get()); });
    stream.onTruncated([&console] { putTruncated(console); });
    stream.onReplaced([&console] { putReplaced(console); });
    if (options->mode == Mode::Viewer) return writeViewer(*options, page, console, consoleFile.get(), stream, nullptr);
    if (options->mode == Mode::Live) return writeLive(*options, page, console, consoleFile.get(), stream);
    // A USB capture is read until its device is known before the dest file
    // is touched.
    std::optional<DumpInput> input(std::in_place, stream, options->device, console);
    if (!input->problem().empty()) {
        if (!dumpIsStdin) std::fclose(stream.file());
        complain(console, input->problem(), options->dump);
        return 1;
    }
    std::FILE* dest = openDest(*options, destIsDump(*options, stream.file()));
    if (!dest) {
        if (!dumpIsStdin) std::fclose(stream.file());
        complain(console, kCantWrite, options->dest);
        return 1;
    }

    Decoded decoded = decodeCapture(*options, *input, stream, dest, console, consoleFile.get());
    // Everything read is closed before the viewer starts: it gets no handle
    // on the capture.
    input.reset();
    if (!dumpIsStdin) std::fclose(stream.file());
    if (!closeDest(*options, dest)) decoded.writeError = true;

    if (decoded.readError || decoded.writeError || !decoded.fault.empty()) {
        put<"\n">(console);
        if (decoded.readError)
            complain(console, kCantRead, options->dump);
        else if (decoded.writeError)
            complain(console, kCantWrite, options->dest);
        else
            complain(console, "Damaged capture file, " + decoded.fault + ": ", options->dump);
        return 1;
    }
    if (decoded.interrupted && !stream.live()) return interruptedStatus(console, consoleFile.get());
    return done(*options, console, consoleFile.get(),
                options->mode == Mode::Steps || options->mode == Mode::Picture ? Viewer::ByType : Viewer::Text);
}

} // namespace vornlog
