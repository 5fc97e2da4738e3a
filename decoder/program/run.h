// The run of the console program: banner, command line, files, one pass
// over the capture, closing message and the viewer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "capture/instruction_filter.h"
#include "capture/usb_capture.h"
#include "modes.h"

namespace vornlog {

struct Options {
    // The run mode's letter (modes.h): the last one given, or the first
    // mode of the table.
    char mode = runModes().front().letter;
    // -n: the dest file is not shown when the run is over.
    bool viewer = true;
    // -q: nothing on the console but the errors.
    bool quiet = false;
    std::string dump;
    std::string dest;
    // -d BUS.ADDR: the USB device whose messages a USB capture gives.
    std::optional<UsbDevice> device;
    // -f: at the end of the dump file, wait for it to grow, until Ctrl-C.
    bool follow = false;
    // -F: follow the name: when it comes to lead to a new file (the capture
    // was renamed or deleted and started anew), the new one is read.
    bool followName = false;
    // -i LIST: the instructions the report and the summary keep.
    std::optional<InstructionFilter> keep;
    // -c BEFORE: the capture of the earlier run that the dump file is
    // compared with; empty without -c. With it, -d may name two devices
    // (BUS.ADDR,BUS.ADDR): the second is AFTER's (the dump file's).
    std::string before;
    std::optional<UsbDevice> afterDevice;
    // -d and -i as given, for the viewer page (-w).
    std::string deviceText;
    std::string keepText;
    // --fail-on=KINDS: a bit for each kind of finding (1 << findings::Kind)
    // that makes the run end with kFindingsStatus; 0 without it.
    unsigned failOn = 0;
    // --port=N: the live viewer's port (-l); 0: the system picks one.
    int port = 0;
    // --keep=DIR (-e, -l): the folder that gets a viewer page of the
    // capture around every finding; empty without it.
    std::string keepDir;
    // --keep-max=SIZE: the bytes the pages this run keeps may take.
    std::uint64_t keepMax = std::uint64_t{1} << 30;
};

// The exit status of a run that made a finding of a kind --fail-on names.
inline constexpr int kFindingsStatus = 3;

// Reads the command line (the arguments after the program name). The last
// two arguments are always the dump file and the dest file; each argument
// before them is an option known by its first two characters: a run mode's
// letter (the last one given counts), -n, -q, -f or -F, -d BUS.ADDR (also
// -dBUS.ADDR), -c BEFORE (also -cBEFORE), -i LIST (also -iLIST) or
// --port=N; or, as a whole word, --fail-on=KINDS (a comma list of kinds of
// findings, or "any"), --keep=DIR (with -e or -l) or --keep-max=SIZE (with
// --keep). Empty when the usage text must be shown. A dump or dest file "-" is standard
// input or output.
std::optional<Options> parseCommandLine(const std::vector<std::string>& args);

// The whole run; returns the exit status.
int run(const std::vector<std::string>& args);

} // namespace vornlog
