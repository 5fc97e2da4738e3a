// Override Origin/End (0x4F, O): whether moves heed the Origin/End
// switches, and their state.
#pragma once

#include "protocol/fields.h"
#include "protocol/layout.h"
#include "protocol/lines.h"

namespace vornlog::control {

inline constexpr CodeText kOverrideCommands[] = {
    {0x00, "Do not override=use Origin/End switch"},
    {0x01, "Override=move without taking care of the switches"},
    {0x02, kGetStatus},
};

// Override status, the controller's reply (bits 4 to 7 not shown).
inline constexpr BitText kOverrideBits[] = {
    {0, "override = do not use the ORIGIN/END switches", "no override = use the ORIGIN/END switches"},
    {1, "current table is configured to use the ORIGIN/END switches",
        "current table does not support the use of the switches"},
    {2, "ORIGIN contact open", "ORIGIN contact close"},
    {3, "END contact open", "END contact close"},
};

inline constexpr Field kOverrideCmd{
    .name = "CMD", .codes = kOverrideCommands, .unknown = kUnknownCommand};
inline constexpr Field kOverrideRet{.name = "RET", .bits = kOverrideBits};

inline constexpr Step kOverridePcSteps[] = {read(kOverrideCmd)};
inline constexpr Layout kOverridePc{kOverridePcSteps};

inline constexpr Step kOverrideReplySteps[] = {read(kOverrideRet)};
inline constexpr Layout kOverrideReply{kOverrideReplySteps};

} // namespace vornlog::control
