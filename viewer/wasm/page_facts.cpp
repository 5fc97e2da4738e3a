#include "page_facts.h"

#include "analysis/findings.h"
#include "analysis/message_columns.h"
#include "protocol/instructions.h"

namespace vornlog {

namespace {

// `"name":value`, after a comma unless it opens its object or list.
void member(std::string& d, std::string_view name, const std::string& value)
{
    if (d.back() != '{' && d.back() != '[') d += ',';
    d += '"';
    d += name;
    d += "\":";
    d += value;
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

} // namespace

void writePageFacts(std::string& d)
{
    d += ",\"markBits\":{";
    for (const MarkName& mark : kMarkNames) member(d, mark.name, std::to_string(mark.bit));
    // The findings' causes by their value, as the `cause` column gives them.
    d += "},\"causes\":[";
    for (const findings::CauseName& cause : findings::kCauseNames) {
        if (d.back() != '[') d += ',';
        d += quoted(cause.name);
    }
    // The protocol's facts that the page reads: the instruction codes of
    // the motion, the buffer's size and the stop state bits with the cause
    // each gives.
    d += "],\"protocol\":{";
    member(d, "data", std::to_string(motion::kDataCode));
    member(d, "buffer", std::to_string(motion::kBufferCode));
    member(d, "information", std::to_string(motion::kInformationCode));
    member(d, "stop", std::to_string(motion::kStopCode));
    member(d, "table", std::to_string(table::kTableCode));
    member(d, "reset", std::to_string(control::kResetCode));
    member(d, "bufferSegments", std::to_string(motion::kBufferSegments));
    d += ",\"stopReasons\":{";
    for (const motion::StopReasonBit& r : motion::kStopReasons) member(d, std::to_string(r.bit), quoted(r.words));
    // The columns that hold more than one element per entry (a stored
    // segment's steps of S1, S2 and S3), and how many.
    d += "}},\"strides\":{";
    for (const ColumnStride& stride : kColumnStrides) member(d, stride.name, std::to_string(stride.per));
    d += "},\"instructions\":{";
    for (const Instruction& instruction : kInstructions)
        member(d, std::to_string(instruction.code), quoted(instruction.name));
    d += '}';
}

} // namespace vornlog
