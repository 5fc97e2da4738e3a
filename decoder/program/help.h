// The long help of the console program (--help) and the package version
// that --version shows beside the decoder release.
#pragma once

#include <string_view>

#include "base/out.h"

namespace vornlog {

// The package version, as the build gives it ("1.0.0").
std::string_view packageVersion();

// Every option and run mode, each with a line of explanation and an
// example; then the files, "-" for standard input and output, and the exit
// statuses.
void putHelp(Out& out);

} // namespace vornlog
