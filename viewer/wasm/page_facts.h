// The facts that the viewer page reads beside the columns: the bits of the
// marks column, the findings' causes, the protocol's instruction codes,
// buffer size and stop bits, the columns' strides and the instruction set.
// The page's script writes none of them itself.
#pragma once

#include <string>

namespace vornlog {

// Appends the facts to `d` as the members of a JSON object, each after a
// comma: ,"markBits":{name: bit},"causes":[name, ...],"protocol":{...},
// "strides":{column: elements per entry},"instructions":{code: name}.
void writePageFacts(std::string& d);

} // namespace vornlog
