// Version (0x56, V): the PC asks, the controller answers with its version.
#pragma once

#include "protocol/fields.h"
#include "protocol/layout.h"
#include "request.h"

namespace vornlog::control {

inline constexpr int kVersionLength = 11;

// Exactly eleven characters, written raw: no stop at a zero byte.
inline constexpr Field kVersion{.name = "Version",
                                .kind = FieldKind::Text,
                                .width = kVersionLength,
                                .head = "Version=\t",
                                .meaning = "%s"};

inline constexpr Step kVersionReplySteps[] = {text(kVersion)};
inline constexpr Layout kVersionReply{kVersionReplySteps};

} // namespace vornlog::control
