// Information (0x49, I): the PC asks, the controller answers with ST and
// the status block.
#pragma once

#include "protocol/fields.h"
#include "protocol/layout.h"
#include "protocol/lines.h"
#include "request.h"
#include "status.h"

namespace vornlog::motion {

inline constexpr std::uint8_t kInformationCode = 0x49;

// ST: any nonzero value is shown as 0xFF.
inline constexpr CodeText kInformationStatus[] = {
    {0x00, "Buffer not full"},
    {0xFF, "Buffer full"},
};
inline constexpr Field kInformationSt{
    .name = "ST", .codes = kInformationStatus, .unknown = kUnknownStatus};

inline constexpr Step kInformationReplySteps[] = {read(kInformationSt, kNonzeroAsFF), part(kStatusBlock)};
inline constexpr Layout kInformationReply{kInformationReplySteps};

} // namespace vornlog::motion
