// What the fuzz targets hold every capture to, beyond "no crash": the
// capture is read exactly as the program reads a dump file (from a stdio
// stream, and from memory in blocks of many sizes, which must not change a
// byte of the output), and the output is checked against rules that follow
// from the capture alone.
#pragma once

#include <string_view>

namespace vornlog::fuzz {

// The whole report of `capture` by every way of reading it; aborts with a
// message when they differ or when the report breaks one of its rules.
// The session summary of the capture is checked with it: it must count
// the same lines and messages.
void checkReport(std::string_view capture);

// The whole steps CSV, likewise: every way of reading gives the same CSV
// and every line of it is a regular row of 12 fields or an end-of-data row.
void checkStepsCsv(std::string_view capture);

// The whole picture, likewise: every way of reading gives the same SVG, a
// whole document whose title counts exactly the regular rows of the steps
// CSV of the same capture.
void checkPicture(std::string_view capture);

// Stops the run with `what` on standard error; libFuzzer keeps the input.
[[noreturn]] void fail(const char* what, std::string_view expected = {}, std::string_view got = {});

} // namespace vornlog::fuzz
