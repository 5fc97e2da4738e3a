// JSON Lines (-j): one JSON object for each message of the capture, one
// line each, in capture order, with everything the report shows of it:
//
//   {"number":12,"from":"PC","time":"2026-11-30T14:02:11.521Z","t":0.068,
//    "bytes":"4D0305","code":77,"instruction":"Motors ON/OFF",
//    "fields":[{"name":"CMD","raw":3},{"name":"MOFF","raw":5,"text":"Auto motors on/off set to 5 sec"}],
//    "errors":[]}
//
// number: the line of a text dump, the packet (frame) of a capture file;
// from: "PC" or "QMR5V"; time: the capture's date and time in UTC with the
// capture's precision, null without a date; t: seconds since the first
// message with a time, null without; device: "BUS.ADDR", capture files
// only; bytes: the message in upper-case hex; code and instruction (null
// for an unknown instruction); fields, each with its name, its raw value
// (absent for text), its meaning (absent when none) and its bit rows
// (absent when none); errors: every error text, in order. Every line is
// valid UTF-8: bytes that are not are each shown as U+FFFD, control
// characters as \u escapes.
#pragma once

#include <string_view>

#include "capture/source.h"
#include "base/out.h"

namespace vornlog {

class Progress;

// Writes the JSON line of every message of `in`, counting each record on
// the console. When `in` leaves some instructions out (-i), only the
// messages of those it keeps get their line, the same line as without it
// (t counts from the capture's first message all the same).
void writeJsonLines(MessageSource& in, Out& dest, Progress& progress);

// Writes the JSON line of one message, the same line writeJsonLines writes
// for it in its capture: t counts from `start` (the capture's first message
// with a time; none when no message before it has one).
void writeJsonLine(const CaptureRecord& record, const CaptureRecord* start, Out& dest);

// Writes `text` as the contents of a JSON string (without its quotes):
// valid UTF-8 as it is, but quotes, backslashes and control characters
// escaped, and U+FFFD for bytes that are not UTF-8.
void putJsonText(Out& out, std::string_view text);

} // namespace vornlog
