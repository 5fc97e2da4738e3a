// General input/output IO1 (0x47, G): the IO1 pin's level and setting.
#pragma once

#include "protocol/fields.h"
#include "protocol/layout.h"
#include "protocol/lines.h"
#include "setup.h"

namespace vornlog::control {

inline constexpr std::uint8_t kChangeIo1Setting = 0x03;
inline constexpr CodeText kIo1Commands[] = {
    {0x00, "Set IO1 pin low"},
    {0x01, "Set IO1 pin high"},
    {0x02, "Read IO1 pin setting"},
    {kChangeIo1Setting, "Change IO1 pin setting"},
};

inline constexpr CodeText kIo1Levels[] = {
    {0x00, "IO1 pin is low"},
    {0x01, "IO1 pin is high"},
};

inline constexpr Field kIo1Cmd{
    .name = "CMD", .codes = kIo1Commands, .unknown = kUnknownCommand};
inline constexpr Field kIo1Ret{
    .name = "RET", .codes = kIo1Levels, .unknown = kInvalidStatus};
// An IO1 setting byte.
inline constexpr Field kIo1Value{.name = "VAL", .bits = kIo1Bits};

inline constexpr Step kIo1PcSteps[] = {read(kIo1Cmd), when(kChangeIo1Setting, 1), read(kIo1Value)};
inline constexpr Layout kIo1Pc{kIo1PcSteps};

inline constexpr Step kIo1ReplySteps[] = {read(kIo1Ret), read(kIo1Value)};
inline constexpr Layout kIo1Reply{kIo1ReplySteps};

} // namespace vornlog::control
