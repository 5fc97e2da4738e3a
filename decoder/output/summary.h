// The session summary (-t): one page of plain text that answers the first
// questions about a capture. Did every PC message get its reply? Which
// error texts would the report write? How did the stream of motion
// segments go? How long did the controller take to answer?
//
// It reads the capture once, decodes every message as the report would
// (into nothing, with an observer of the decoders' error texts) and keeps
// only fixed tables: counts for 256 codes in both directions, a fixed
// histogram of reply times for each code, the first few line numbers of
// what went wrong and the five longest gaps of the Data stream.
#pragma once

#include <string_view>

#include "capture/source.h"
#include "base/out.h"

namespace vornlog {

class Progress;

// Writes the summary of every record of `in` to `dest`, counting each
// record on the console. `captureName` is the capture's file name as the
// user gave it. When `in` leaves some instructions out (-i), only the
// messages of those it keeps are summed up, and the summary names them.
void writeSummary(MessageSource& in, std::string_view captureName, Out& dest, Progress& progress);

} // namespace vornlog
