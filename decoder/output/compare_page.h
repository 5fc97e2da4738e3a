// The comparison of two sessions as one page (-c -w): the comparison's
// page, which the build makes and the program holds, written out with the
// comparison's data as JSON in its data element. The page shows both runs
// in one view (their timelines aligned by segment, the differences in a
// list, the tool paths overlaid) and fetches nothing.
//
// The data: {"lines":[...],"runs":[BEFORE,AFTER],"aOfB":[...]}, where
// "lines" are the comparison's JSON Lines objects (as -j writes them, the
// "runs" line last), each run
//   {"name","format","timed","stills":[[segment,dry,stood,cause]...],
//    "stops":[[segment,at,cause]...],
//    "segments":[number,t,cmd,nbr,s1,s2,s3,s4,s5, number,t,...]}
// (times in seconds from the run's first time, null without), and "aOfB"
// for each of AFTER's segments its match in BEFORE (from 0) or -1.
#pragma once

#include <string_view>

#include "base/out.h"
#include "session_compare.h"

namespace vornlog {

// True when `page` is the comparison's page: it holds its empty data
// element once.
bool isComparePage(std::string_view page);

// Writes `page` with the comparison in its data element. The JSON is
// escaped so that no text of a capture can end the element: every "<",
// ">" and "&" is written as \u003c, \u003e, \u0026 (JSON has them only in
// its strings).
void writeComparePage(std::string_view page, const compare::Comparison& c, const ComparedRun& before,
                      const ComparedRun& after, Out& out);

} // namespace vornlog
