// The steps CSV: one row for every motion segment that the controller
// confirmed as stored, built from the PC's Data messages and the
// controller's Data replies.
#pragma once

#include "../capture.h"
#include "../out.h"

namespace vornlog {

class Progress;

void writeStepsCsv(LineReader& in, Out& dest, Out& console, Progress& progress);

} // namespace vornlog
