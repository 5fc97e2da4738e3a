// The request that carries nothing after its code: the PC's Version, Flash
// Model and Information.
#pragma once

#include "protocol/layout.h"

namespace vornlog::control {

inline constexpr char kNoParameters[] = "No paramters";

inline constexpr Step kNoParametersSteps[] = {line(kNoParameters)};
inline constexpr Layout kNoParametersRequest{kNoParametersSteps};

} // namespace vornlog::control
