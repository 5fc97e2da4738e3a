// Flash Model (0x46, F): the PC asks, the controller answers with its
// flash memory's identity.
#pragma once

#include "protocol/fields.h"
#include "protocol/layout.h"
#include "request.h"

namespace vornlog::control {

inline constexpr Field kFlashId{.name = "ID", .head = "ID=\t0x%02X"};
inline constexpr Field kFlashType{.name = "TYPE", .head = "TYPE=\t0x%02X"};
inline constexpr Field kFlashSize{.name = "SIZE", .head = "SIZE=\t0x%02X"};
inline constexpr Field kFlashWps{.name = "WPS", .head = "WPS=\t0x%02X"};

inline constexpr Step kFlashModelReplySteps[] = {read(kFlashId), read(kFlashType), read(kFlashSize), read(kFlashWps)};
inline constexpr Layout kFlashModelReply{kFlashModelReplySteps};

} // namespace vornlog::control
