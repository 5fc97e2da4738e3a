// The run modes of the console program, one row each: the letter that
// chooses it, what runs it and the writer that makes its dest file,
// whether it lists messages (which -i then chooses among), when the dest
// file is opened, how it is shown at the end and its lines in --help. The
// command line, the run and the help read this table; the manual page, the
// bash completion and the launcher's outputs are checked against it.
#pragma once

#include <cstdio>
#include <span>
#include <string_view>

#include "base/out.h"
#include "base/platform.h"
#include "capture/source.h"
#include "output/progress.h"

namespace vornlog {

// What a mode's writer gets: the decoded messages (those -i keeps, in a
// mode that lists messages), the dest file, the console and its progress
// line, and the dump file's name as given ("-" for standard input).
struct ModeOutput {
    MessageSource& messages;
    Out& dest;
    Out& console;
    Progress& progress;
    std::string_view dump;
};

using ModeWriter = void (*)(const ModeOutput&);

struct Options;
class DumpStream;
struct RunMode;

// What runs a mode gets: the command line, its row, the viewer page (for
// the modes that need it, else empty), the console and the capture, open
// and not yet read. It returns the run's exit status.
struct ModeRun {
    const Options& options;
    const RunMode& mode;
    std::string_view page;
    Out& console;
    std::FILE* consoleFile;
    DumpStream& stream;
};

using ModeRunner = int (*)(const ModeRun&);

// When the dest file is opened.
enum class DestOpening {
    // Once the capture's USB device is known, before the first message is
    // decoded: the writer writes it as it decodes.
    BeforeDecoding,
    // When the whole capture is read: the viewer page carries its bytes,
    // which the page decodes itself.
    AfterReading,
    // As AfterReading, the viewer page served on this computer meanwhile
    // (the live viewer), until Ctrl-C.
    Served,
};

struct RunMode {
    char letter;
    // What runs it, from the opened capture to the exit status.
    ModeRunner run;
    // Null for a mode that does not decode the messages here.
    ModeWriter write;
    bool listsMessages;
    DestOpening dest;
    // How the dest file is shown when the run is over.
    Viewer viewer;
    // Its lines in --help: what it writes, and an example.
    std::string_view help;
    // The findings go to the dest file: a tap over every record, before
    // -i, writes each when it is complete; the writer only reads.
    bool findings = false;

    // Its dest file is the viewer page, which is found before anything is
    // read or written.
    constexpr bool writesViewerPage() const { return dest != DestOpening::BeforeDecoding; }
    // It makes the findings that --keep keeps pages of.
    constexpr bool keepsFindingPages() const { return findings || dest == DestOpening::Served; }
};

// Every run mode, in the order --help lists them; the first is the one
// without an option.
std::span<const RunMode> runModes();

// The mode of an option's letter; null when the letter chooses no mode.
const RunMode* findRunMode(char letter);

} // namespace vornlog
