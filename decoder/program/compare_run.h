// -c BEFORE: the run that compares two captures, BEFORE and the dump file
// (AFTER), and writes the comparison to the dest file.
#pragma once

#include <cstdio>

#include "base/out.h"
#include "modes.h"
#include "run.h"

namespace vornlog {

// The modes that -c writes its comparison in: text (none, -v), JSON Lines
// (-j) and the viewer page (-w).
constexpr bool comparable(const RunMode& mode) { return mode.letter == 'v' || mode.letter == 'j' || mode.letter == 'w'; }

// The whole run once the banner is shown; returns the exit status.
int compareSessions(const Options& options, Out& console, std::FILE* consoleFile);

} // namespace vornlog
