// What runs each mode of the table (modes.cpp): from the opened capture to
// the exit status.
#pragma once

#include "modes.h"

namespace vornlog {

// Decodes the capture into the dest file with the mode's writer.
int runDecoder(const ModeRun& run);
// -w: the capture's bytes put in the viewer page.
int runViewerPage(const ModeRun& run);
// -l: the viewer page served on this computer while the capture is read,
// then written as -w writes it.
int runLiveViewer(const ModeRun& run);

} // namespace vornlog
