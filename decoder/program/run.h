// The run of the console program: banner, command line, files, one pass
// over the capture, closing message and the viewer.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "capture/instruction_filter.h"
#include "capture/usb_capture.h"

namespace vornlog {

enum class Mode { Report, Steps, Picture, Summary, Json, Viewer, Live };

struct Options {
    Mode mode = Mode::Report;
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
    // -d and -i as given, for the viewer page (-w).
    std::string deviceText;
    std::string keepText;
    // --port=N: the live viewer's port (-l); 0: the system picks one.
    int port = 0;
};

// Reads the command line (the arguments after the program name). The last
// two arguments are always the dump file and the dest file; each argument
// before them is an option known by its first two characters: -s, -v, -p, -t,
// -j, -w or -l (the last one given counts), -n, -q, -f or -F, -d BUS.ADDR
// (also -dBUS.ADDR), -i LIST (also -iLIST) or --port=N. Empty when the usage text must be
// shown. A dump or dest file "-" is standard input or output.
std::optional<Options> parseCommandLine(const std::vector<std::string>& args);

// The whole run; returns the exit status.
int run(const std::vector<std::string>& args);

} // namespace vornlog
