// The comparison of two sessions (-c), as text or as JSON Lines.
//
// Text: the two runs and the share of their segments aligned; the
// differences in the motion, most telling first, each with what came just
// before it in both runs (or "No difference in the motion", or "Different
// jobs" with the share); the findings outside the motion by their counts;
// the whole-run figures side by side; the segments whose content differs.
//
// JSON Lines: one object per difference,
//
//   {"kind":"underrun","cause":"host-gap","in":"after","segment":23,
//    "stood":0.412,"before":11.002,"after":12.345,"difference":"only",...}
//
// then one object with "kind":"runs": the share aligned, same_job and the
// whole-run figures of both runs. docs/vornlog-compare.schema.json
// describes a line.
#pragma once

#include <string>
#include <string_view>

#include "analysis/session_compare.h"
#include "base/out.h"

namespace vornlog {

// One of the two runs, as the comparison names it.
struct ComparedRun {
    const compare::RunProfile& profile;
    std::string name;       // the file's name, or "standard input"
    std::string_view format; // "text dump", "pcap", ...
};

void writeComparisonText(const compare::Comparison& c, const ComparedRun& before, const ComparedRun& after, Out& out);
void writeComparisonLines(const compare::Comparison& c, const ComparedRun& before, const ComparedRun& after, Out& out);

} // namespace vornlog
