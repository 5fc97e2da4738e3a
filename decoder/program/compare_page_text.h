// The comparison's page (-c -w) as the build put it together: one HTML
// file with its style and script, and an empty data element that
// writeComparePage fills. Empty when the build could not make it.
#pragma once

#include <string_view>

namespace vornlog {

std::string_view comparePageText();

} // namespace vornlog
