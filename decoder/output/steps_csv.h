// The steps CSV: one row for every motion segment that the controller
// confirmed as stored, built from the PC's Data messages and the
// controller's Data replies.
#pragma once

#include "capture/capture.h"
#include "capture/source.h"
#include "base/out.h"

namespace vornlog {

class Progress;

void writeStepsCsv(MessageSource& in, Out& dest, Out& console, Progress& progress);
// The same over the capture lines of a text dump.
void writeStepsCsv(LineReader& in, Out& dest, Out& console, Progress& progress);

} // namespace vornlog
