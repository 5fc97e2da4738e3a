// The run of the console program: banner, command line, files, one pass
// over the capture, closing message and the viewer.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vornlog {

enum class Mode { Report, Steps };

struct Options {
    Mode mode = Mode::Report;
    std::string dump;
    std::string dest;
};

// Reads the command line (the arguments after the program name). The last
// two arguments are always the dump file and the dest file; each argument
// before them is -s or -v, known by its first two characters, and the last
// one given counts. Empty when the usage text must be shown.
std::optional<Options> parseCommandLine(const std::vector<std::string>& args);

// The whole run; returns the exit status.
int run(const std::vector<std::string>& args);

} // namespace vornlog
