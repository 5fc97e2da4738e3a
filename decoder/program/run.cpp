#include "run.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

#include "capture/capture.h"
#include "dump_stream.h"
#include "capture/instruction_filter.h"
#include "capture/source.h"
#include "capture/dump_input.h"
#include "compare_run.h"
#include "help.h"
#include "output/finding_pages.h"
#include "output/findings_lines.h"
#include "live_viewer.h"
#include "mode_runs.h"
#include "base/out.h"
#include "output/report.h"
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

// A byte stream read through another, every block read handed on as well,
// with whether it is the first of new content (the stream started again).
class TeeStream final : public ByteStream {
public:
    using Also = std::function<void(std::string_view, bool restarted)>;
    TeeStream(ByteStream& in, Also also) : in_(in), also_(std::move(also)) {}
    std::size_t read(void* dst, std::size_t n) override
    {
        const std::uint64_t restarts = in_.restarts();
        const std::size_t got = in_.read(dst, n);
        if (got > 0) also_(std::string_view(static_cast<const char*>(dst), got), in_.restarts() != restarts);
        return got;
    }
    bool readError() const override { return in_.readError(); }
    bool interrupted() const override { return in_.interrupted(); }
    std::uint64_t restarts() const override { return in_.restarts(); }

private:
    ByteStream& in_;
    Also also_;
};

// The folder of the pages kept (--keep=DIR): each page made new in it, and
// removed only while it is still the file this run made.
class KeptFolder final : public FindingPages::Files {
public:
    explicit KeptFolder(std::string folder) : folder_(std::move(folder)) {}
    std::FILE* create(const std::string& name, bool& taken) override
    {
        std::FILE* file = createNewFile(folder_ + name, taken);
        if (file) {
            if (const std::optional<FileIdentity> identity = fileIdentity(file)) made_[name] = *identity;
        }
        return file;
    }
    bool remove(const std::string& name) override
    {
        const auto made = made_.find(name);
        if (made == made_.end()) return false;
        const bool removed = removeFileIf(folder_ + name, made->second);
        made_.erase(made);
        return removed;
    }
    std::FILE* scratch() override { return openTemporaryFile(); }

private:
    std::string folder_;
    std::map<std::string, FileIdentity> made_;
};

// The pages kept of the findings (--keep=DIR) in their folder; the console
// names each page written or removed, and the first write that failed.
class KeptPages {
public:
    KeptPages(const Options& options, std::string_view page, std::string folder, Out& console, std::FILE* consoleFile)
        : folder_(folder),
          pages_(page, options.dump == "-" ? std::string("standard input") : fileNamePart(options.dump),
                 options.deviceText, options.keepText, options.keepMax, folder_,
                 [folder, &console, consoleFile](const std::string& name, FindingPages::Said what) {
                     using Said = FindingPages::Said;
                     const std::string path = folder + name;
                     switch (what) {
                     case Said::Kept: put<"\nFinding kept: %s\n">(console, std::string_view(path)); break;
                     case Said::Removed:
                         put<"\nFinding page removed, over --keep-max: %s\n">(console, std::string_view(path));
                         break;
                     case Said::TooLarge:
                         put<"\nFinding page not kept, alone over --keep-max: %s\n">(console, std::string_view(path));
                         break;
                     case Said::Failed:
                         put<"\n">(console);
                         complain(console, kCantWrite, path);
                         return;
                     case Said::ScratchFailed:
                         put<"\n">(console);
                         complain(console, "Can't keep the findings' pages, can't write to the temporary folder: ",
                                  temporaryFolder());
                         return;
                     }
                     flushConsole(console, consoleFile);
                 })
    {
    }
    FindingPages& pages() { return pages_; }

private:
    KeptFolder folder_;
    FindingPages pages_;
};

std::unique_ptr<KeptPages> findingPages(const Options& options, std::string_view page, Out& console,
                                        std::FILE* consoleFile)
{
    if (options.keepDir.empty()) return nullptr;
    std::string folder = options.keepDir;
    if (folder.back() != '/' && folder.back() != '\\') folder += '/';
    return std::make_unique<KeptPages>(options, page, folder, console, consoleFile);
}

// --fail-on or --keep with -w or -l: the capture decoded as it is read, for
// the kinds of its findings (a bit each) and the pages kept of them, every
// byte read handed to `add` as well. The decoder's words on the console are
// not those of -w: they are left out. A file that is no capture makes none;
// what the decoding leaves unread is the caller's to read.
unsigned findingsWhileReading(const Options& options, DumpStream& stream, FindingPages* pages,
                              std::function<void(std::string_view)> add)
{
    TeeStream tee(stream, [&add, pages](std::string_view bytes, bool restarted) {
        if (pages) pages->add(bytes, restarted);
        add(bytes);
    });
    std::string unsaid;
    Out quiet(&unsaid);
    DumpInput input(tee, options.device, quiet);
    if (!input.problem().empty()) return 0;
    // Live, the pages kept are written while the reading waits.
    std::function<FindingsTap::Clock::time_point()> clock;
    if (pages && stream.live()) clock = [] { return FindingsTap::Clock::now(); };
    FindingsTap findings(input.source(), nullptr, clock, pages, false);
    if (clock) stream.onWait([&findings] { findings.idle(FindingsTap::Clock::now()); });
    CaptureRecord record;
    while (findings.next(record)) {
        if (unsaid.size() > (1 << 16)) unsaid.clear();
    }
    stream.onWait(nullptr);
    findings.finish();
    return findings.kinds();
}

// The exit status of a run that made the findings `made`: 3 instead of 0
// when one is of a kind that --fail-on names.
int withFindings(const Options& options, int status, unsigned made)
{
    return status == 0 && (made & options.failOn) ? kFindingsStatus : status;
}

// -w: the capture's bytes, as they are read (up to the end, or to Ctrl-C
// with -f or a pipe), put in the viewer page written to the dest file. The
// page decodes them itself; the console shows the bytes read. The bytes
// are compressed as they come, on two threads: only the compressed ones
// are kept until the page is written.
//
// -l: the same, and the live viewer serves the bytes as they are read; it
// is told where the page went. Each compressed part goes to the live
// viewer's store on disk as soon as it is made, and comes back from there
// for the page: the run keeps no more of the capture in memory than a few
// parts. A store that cannot keep a part (a full disk) is said once; the
// run then ends with status 1, the page still written whole.
//
// With --fail-on the bytes are also decoded as they are read, for the kinds
// of their findings (`made`).
int writeViewer(const Options& options, std::string_view page, Out& console, std::FILE* consoleFile, DumpStream& stream,
                LiveViewer* live, unsigned& made)
{
    const bool dumpIsStdin = options.dump == "-";
    DeflateWriter compressed(runTogether);
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
    bool storeFailed = false;
    const auto keep = [&](std::string_view part, std::size_t size) {
        std::string problem;
        if (live->part(part, size, problem) || storeFailed) return;
        storeFailed = true;
        put<"\n">(console);
        complain(console, "Live viewer: ", problem);
    };
    const auto add = [&](std::string_view bytes) {
        if (live) live->add(bytes);
        compressed.add(bytes);
        if (live) compressed.takeParts(keep);
        if (compressed.added() - shown >= (1 << 24)) showRead();
    };
    const std::unique_ptr<KeptPages> kept = findingPages(options, page, console, consoleFile);
    FindingPages* const pages = kept ? &kept->pages() : nullptr;
    if (options.failOn || pages) made = findingsWhileReading(options, stream, pages, add);
    std::size_t n = 0;
    while ((n = stream.read(block.get(), kRead)) > 0) add(std::string_view(block.get(), n));
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
    bool storeRead = true;
    {
        Out out(dest, false);
        const std::string name = dumpIsStdin ? "standard input" : fileNamePart(options.dump);
        ViewerCapture capture{compressed, name, options.deviceText, options.keepText};
        if (live)
            capture.earlier = [&](const std::function<void(std::string_view)>& put) { storeRead = live->parts(put); };
        writeViewerPage(page, capture, out);
        writeError = !out.flush();
    }
    if (!closeDest(options, dest)) writeError = true;
    if (writeError || !storeRead) {
        put<"\n">(console);
        complain(console, writeError ? kCantWrite : "Can't read back the live viewer's store for ", options.dest);
        return 1;
    }
    if (live) {
        live->end(options.dest == "-" ? std::string("standard output") : fullPath(options.dest));
        return (pages && pages->failed()) || storeFailed ? 1 : 0;
    }
    return done(options, console, consoleFile, findRunMode(options.mode)->viewer);
}

// -l: the live viewer serves the page while the capture is read, then the
// page of everything read is written as -w writes it. Serving goes on
// until Ctrl-C; when Ctrl-C ended the reading, the open pages are given a
// moment to hear where the page was saved.
int writeLive(const Options& options, std::string_view page, Out& console, std::FILE* consoleFile, DumpStream& stream)
{
    unsigned made = 0;
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
    const ShownAddress opened = options.viewer ? showAddress(live->address()) : ShownAddress();
    const int status = writeViewer(options, page, console, consoleFile, stream, live.get(), made);
    if (status != 0 || stream.interrupted()) {
        // A failure, or Ctrl-C: the pages that watch hear it, then the run
        // ends.
        if (status != 0) live->end({});
        live->stop(2000);
        if (status == 0) put<"\n\nDone">(console);
        flushConsole(console, consoleFile);
        return withFindings(options, status, made);
    }
    put<"\n\nDone; the live viewer serves until Ctrl-C">(console);
    flushConsole(console, consoleFile);
    while (!interruptRequested()) pause(1000);
    live->stop(0);
    put<"\n">(console);
    flushConsole(console, consoleFile);
    return withFindings(options, 0, made);
}

// The mode's writer over the records of `in`: -i leaves the other
// instructions out of every mode that lists messages, one way for all; the
// steps CSV and the picture show the motion, made of every Data message.
void writeMode(const Options& options, const RunMode& mode, MessageSource& in, Out& dest, Out& console,
               Progress& progress)
{
    std::optional<FilteredSource> kept;
    if (options.keep && mode.listsMessages) kept.emplace(in, *options.keep);
    MessageSource& source = kept ? static_cast<MessageSource&>(*kept) : in;
    mode.write(ModeOutput{source, dest, console, progress, options.dump});
}

// How the decoding of the capture ended.
struct Decoded {
    // The kinds of findings made (a bit each), when they were looked for.
    unsigned findings = 0;
    bool readError = false;
    bool writeError = false;
    bool interrupted = false;
    std::string fault;
};

// Decodes the capture into the dest file in the run's mode, with the
// progress line and the console's last words on the reading. Before the
// reading waits for more of a live capture, the dest file and the console
// get everything written so far.
Decoded decodeCapture(const Options& options, const RunMode& mode, DumpInput& input, DumpStream& stream, std::FILE* dest, Out& console,
                      std::FILE* consoleFile, FindingPages* pages)
{
    Decoded result;
    Out out(dest);
    out.escapeControls(isTerminal(dest));
    // The findings, for -e and --fail-on, are made from every record on
    // its way to the mode's writer. Live, the capture's clock is taken to
    // run on with the wall clock while the reading waits.
    std::optional<FindingsTap> findings;
    if (mode.findings || options.failOn) {
        std::function<FindingsTap::Clock::time_point()> clock;
        if (stream.live()) clock = [] { return FindingsTap::Clock::now(); };
        // -e's writer decodes nothing: the tap decodes as it reads.
        findings.emplace(input.source(), mode.findings ? &out : nullptr, std::move(clock), pages, !mode.findings);
    }
    MessageSource& in = findings ? static_cast<MessageSource&>(*findings) : input.source();
    stream.onWait([&] {
        if (findings) findings->idle(FindingsTap::Clock::now());
        out.flush();
        std::fflush(dest);
        flushConsole(console, consoleFile);
    });
    // A console that is not a terminal gets the progress line now and
    // then, not for every line.
    Progress progress(console, isTerminal(consoleFile));
    writeMode(options, mode, in, out, console, progress);
    if (findings) {
        findings->finish();
        result.findings = findings->kinds();
    }
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

constexpr std::string_view kFailOn = "--fail-on";
constexpr std::string_view kKeep = "--keep";
constexpr std::string_view kKeepMax = "--keep-max";

// The size of "--keep-max=SIZE": bytes, or with K, M or G (powers of 1024);
// none for a missing "=", no digits, another suffix, 0 or a size beyond 64
// bits.
std::optional<std::uint64_t> keepMaxBytes(std::string_view option)
{
    if (option.size() <= kKeepMax.size() + 1) return std::nullopt;
    std::string_view digits = option.substr(kKeepMax.size() + 1);
    unsigned shift = 0;
    switch (digits.back()) {
    case 'K': shift = 10; break;
    case 'M': shift = 20; break;
    case 'G': shift = 30; break;
    default: break;
    }
    if (shift) digits.remove_suffix(1);
    if (digits.empty()) return std::nullopt;
    std::uint64_t size = 0;
    for (char c : digits) {
        if (c < '0' || c > '9' || size > (UINT64_MAX - 9) / 10) return std::nullopt;
        size = size * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (size == 0 || size > (UINT64_MAX >> shift)) return std::nullopt;
    return size << shift;
}

// The kinds of "--fail-on=KINDS": a comma list of kinds of findings, or
// "any"; none for a missing "=", an empty list or an unknown kind.
std::optional<unsigned> failOnKinds(std::string_view option)
{
    if (option.size() <= kFailOn.size() + 1) return std::nullopt;
    std::string_view list = option.substr(kFailOn.size() + 1);
    if (list == "any") return (1u << findings::kKinds) - 1;
    unsigned kinds = 0;
    while (true) {
        const std::size_t comma = list.find(',');
        const std::optional<findings::Kind> kind = findings::kindNamed(list.substr(0, comma));
        if (!kind) return std::nullopt;
        kinds |= 1u << static_cast<unsigned>(*kind);
        if (comma == std::string_view::npos) return kinds;
        list.remove_prefix(comma + 1);
    }
}

} // namespace

std::optional<Options> parseCommandLine(const std::vector<std::string>& args)
{
    if (args.size() < 2) return std::nullopt;
    Options options;
    // A mode that -c does not write was given.
    bool otherMode = false;
    bool keepMaxGiven = false;
    for (std::size_t i = 0; i + 2 < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == kKeepMax || option.starts_with(std::string(kKeepMax) + "=")) {
            const std::optional<std::uint64_t> size = keepMaxBytes(option);
            if (!size) return std::nullopt;
            options.keepMax = *size;
            keepMaxGiven = true;
            continue;
        }
        if (option == kKeep || option.starts_with(std::string(kKeep) + "=")) {
            if (option.size() <= kKeep.size() + 1) return std::nullopt;
            options.keepDir = option.substr(kKeep.size() + 1);
            continue;
        }
        if (option == kFailOn || option.starts_with(std::string(kFailOn) + "=")) {
            const std::optional<unsigned> kinds = failOnKinds(option);
            if (!kinds) return std::nullopt;
            options.failOn = *kinds;
            continue;
        }
        if (option.size() < 2 || option[0] != '-') return std::nullopt;
        if (const RunMode* mode = findRunMode(option[1])) {
            options.mode = mode->letter;
            if (!comparable(*mode)) otherMode = true;
        }
        else if (option[1] == 'n')
            options.viewer = false;
        else if (option[1] == 'q')
            options.quiet = true;
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
        else if (option[1] == 'd' || option[1] == 'i' || option[1] == 'c') {
            // -d BUS.ADDR or -dBUS.ADDR, -i LIST or -iLIST, -c BEFORE or
            // -cBEFORE; the value is never the dump file.
            std::string_view value = std::string_view(option).substr(2);
            if (value.empty()) {
                if (i + 3 >= args.size()) return std::nullopt;
                value = args[++i];
            }
            if (option[1] == 'c') {
                if (value.empty() || value == "-") return std::nullopt;
                options.before = value;
            } else if (option[1] == 'd') {
                const std::size_t comma = value.find(',');
                options.device = parseUsbDevice(value.substr(0, comma));
                options.afterDevice.reset();
                if (comma != std::string_view::npos) options.afterDevice = parseUsbDevice(value.substr(comma + 1));
                if (!options.device || (comma != std::string_view::npos && !options.afterDevice)) return std::nullopt;
                options.deviceText = value;
            } else {
                options.keep = InstructionFilter::parse(value);
                if (!options.keep) return std::nullopt;
                options.keepText = value;
            }
        } else
            return std::nullopt;
    }
    // The pages kept are those of the findings that -e and -l make.
    const RunMode& mode = *findRunMode(options.mode);
    if (!options.keepDir.empty() && !mode.keepsFindingPages()) return std::nullopt;
    // -c writes the comparison as text, JSON Lines or a page, of two whole
    // captures; two devices are for two captures.
    if (!options.before.empty() && (otherMode || options.follow || !options.keepDir.empty())) return std::nullopt;
    if (options.before.empty() && options.afterDevice) return std::nullopt;
    if (keepMaxGiven && options.keepDir.empty()) return std::nullopt;
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
    const RunMode& mode = *findRunMode(options->mode);
    const ConsoleFile consoleFile(*options);
    if (!consoleFile.get()) {
        writeError(std::string(kCantWrite) + "the null device\n");
        return 1;
    }
    Out console(consoleFile.get(), false);
    put<"%s (rel. %s)\n">(console, kName, kRelease);
    if (!options->before.empty()) return compareSessions(*options, console, consoleFile.get());

    // --keep: the folder must take files.
    if (!options->keepDir.empty() && !isWritableFolder(options->keepDir)) {
        complain(console, "Can't keep the findings' pages, not a folder one may write to: ", options->keepDir);
        return 1;
    }
    // --keep: the capture's last bytes and the pages being made go into
    // temporary files.
    if (!options->keepDir.empty()) {
        std::FILE* scratch = openTemporaryFile();
        if (!scratch) {
            complain(console, "Can't keep the findings' pages, no temporary file in: ", temporaryFolder());
            return 1;
        }
        std::fclose(scratch);
    }
    // -w, -l and --keep: the viewer page is found before anything is read
    // or written.
    std::string page;
    if ((mode.writesViewerPage() || !options->keepDir.empty()) && findViewerPage(page).empty()) {
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
    return mode.run(ModeRun{*options, mode, page, console, consoleFile.get(), stream});
}

int runViewerPage(const ModeRun& run)
{
    unsigned made = 0;
    const int status = writeViewer(run.options, run.page, run.console, run.consoleFile, run.stream, nullptr, made);
    return withFindings(run.options, status, made);
}

int runLiveViewer(const ModeRun& run)
{
    return writeLive(run.options, run.page, run.console, run.consoleFile, run.stream);
}

int runDecoder(const ModeRun& run)
{
    const Options& options = run.options;
    const bool dumpIsStdin = options.dump == "-";
    Out& console = run.console;
    DumpStream& stream = run.stream;
    // --keep: every byte read goes to the pages kept as well.
    const std::unique_ptr<KeptPages> kept = findingPages(options, run.page, console, run.consoleFile);
    FindingPages* const pages = kept ? &kept->pages() : nullptr;
    TeeStream tee(stream, [pages](std::string_view bytes, bool restarted) {
        if (pages) pages->add(bytes, restarted);
    });
    // A USB capture is read until its device is known before the dest file
    // is touched.
    std::optional<DumpInput> input(std::in_place, pages ? static_cast<ByteStream&>(tee) : stream, options.device,
                                   console);
    if (!input->problem().empty()) {
        if (!dumpIsStdin) std::fclose(stream.file());
        complain(console, input->problem(), options.dump);
        return 1;
    }
    std::FILE* dest = openDest(options, destIsDump(options, stream.file()));
    if (!dest) {
        if (!dumpIsStdin) std::fclose(stream.file());
        complain(console, kCantWrite, options.dest);
        return 1;
    }

    Decoded decoded = decodeCapture(options, run.mode, *input, stream, dest, console, run.consoleFile, pages);
    // Everything read is closed before the viewer starts: it gets no handle
    // on the capture.
    input.reset();
    if (!dumpIsStdin) std::fclose(stream.file());
    if (!closeDest(options, dest)) decoded.writeError = true;

    if (decoded.readError || decoded.writeError || !decoded.fault.empty()) {
        put<"\n">(console);
        if (decoded.readError)
            complain(console, kCantRead, options.dump);
        else if (decoded.writeError)
            complain(console, kCantWrite, options.dest);
        else
            complain(console, "Damaged capture file, " + decoded.fault + ": ", options.dump);
        return 1;
    }
    if (decoded.interrupted && !stream.live()) return interruptedStatus(console, run.consoleFile);
    // A page that could not be kept was named on the console already.
    if (pages && pages->failed()) return 1;
    return withFindings(options, done(options, console, run.consoleFile, run.mode.viewer), decoded.findings);
}

} // namespace vornlog
