// The status block that the controller's replies to Data (0x44) and
// Information (0x49) carry, and the fields of it that the Stop and PWM
// replies share.
#pragma once

#include <string_view>

#include "protocol/fields.h"
#include "protocol/layout.h"
#include "protocol/texts.h"

namespace vornlog::motion {

inline constexpr BitText kFlagBits[] = {
    {0, "Steps in progress", "No steps in progress"},
    {1, "Stop is pending", "No stop pending"},
    {3, "Source:USB", "Source:Flash"},
    {4, "PWM:on", "PWM:off"},
    {5, "Origin/End override:enabled", "Origin/End override:disabled"},
    {6, "Motors on", "Motors off"},
    {7, "Origin/End reversed:enabled", "Origin/End reversed:disabled"},
};

// Bit 3 is active low: it reads 1 when the PWM_ON/OFF input is off.
inline constexpr BitText kInputBits[] = {
    {0, "PWM:auto", "PWM:manual"},
    {1, "Axis limits:open", "Axis limits:close"},
    {2, "Tool sensor:open", "Tool sensor:close"},
    {3, "PWM_ON/OFF:off", "PWM_ON/OFF:on"},
    {4, "IO1:5V", "IO1:0V"},
    {5, "Prog/Stop:open", "Prog/Stop:close"},
};

// The keys pressed on the keypad; bit 2 says whether one is connected.
inline constexpr BitText kKeybBits[] = {
    {0, "ESC", nullptr},
    {1, "OK", nullptr},
    {2, "Keyboard not detected", "Keyboard detected"},
    {4, "LEFT", nullptr},
    {5, "DOWN", nullptr},
    {6, "UP", nullptr},
    {7, "RIGHT", nullptr},
};

// A stop state byte: STOP of the status block and RET of the Stop reply.
inline constexpr BitText kStopStateBits[] = {
    {1, "Step activity stopped", "Step activity running"},
    {2, "Stop command has been received", "No stop command has been received"},
    {4, "Stop is due to an axis limit switch", nullptr},
    {5, "Stop is due to a sensor switch", nullptr},
    {6, "Stop is due to PROG/STOP button", nullptr},
    {7, "Stop is due to end of data processed from the buffer", nullptr},
};

// FLAG bit 0: the controller is putting out steps.
inline constexpr unsigned kStepsInProgress = 1u << 0;
// The segments the buffer holds when it is full (BUF), beside the one under
// way.
inline constexpr int kBufferSegments = 7;

// What a stop state byte says of the motion, bit by bit.
inline constexpr unsigned kStepActivityStopped = 1u << 1;
inline constexpr unsigned kStopCommandReceived = 1u << 2;
inline constexpr unsigned kEndOfDataProcessed = 1u << 7; // the buffer ran out

// Why the controller stopped, as its stop state bits give it: each bit
// that stops a job before its end, and the words that name it.
enum class StopReason : std::uint8_t { LimitSwitch, Sensor, Button, Command };
struct StopReasonBit {
    unsigned bit;
    StopReason reason;
    std::string_view words;
};
inline constexpr StopReasonBit kStopReasons[] = {
    {1u << 4, StopReason::LimitSwitch, "an axis limit switch (STOP bit 4)"},
    {1u << 5, StopReason::Sensor, "the tool sensor (STOP bit 5)"},
    {1u << 6, StopReason::Button, "the PROG/STOP button (STOP bit 6)"},
    {kStopCommandReceived, StopReason::Command, "a Stop command (STOP bit 2)"},
};
// All of them: a state with none of these is no stop, whatever else it says.
inline constexpr unsigned kStopReasonBits = [] {
    unsigned bits = 0;
    for (const StopReasonBit& r : kStopReasons) bits |= r.bit;
    return bits;
}();

// The fill of the segment buffer, BUF, counted in sevenths, as a
// percentage truncated; no upper bound is applied (8 gives 114).
inline constexpr Scale kBufferPercent[] = {{100, kBufferSegments}};
constexpr int bufferPercent(int buf) { return kBufferPercent[0].of(buf); }

inline constexpr Field kBuf{.name = "BUF",
                            .meaning = "Buffer %d%%",
                            .quantity = 0,
                            .unit = "%",
                            .shows = kBufferPercent};
// The segment being processed and the pulses left for it, as the status
// block and the Stop reply show them.
inline constexpr Field kSeg{
    .name = "SEG", .width = 3, .meaning = "segment number being processed:%d", .quantity = 0};
inline constexpr Field kFlag{.name = "FLAG", .bits = kFlagBits};
inline constexpr Field kInput{.name = "INPUT", .bits = kInputBits};
// The PWM values of the automatic and the manual mode, as the status block
// and the PWM reply show them.
inline constexpr Field kPwma{.name = "PWMA",
                             .meaning = "%d => %d%%",
                             .quantity = 1,
                             .unit = "%",
                             .shows = kValueAndPwmPercent};
inline constexpr Field kPwmm{.name = "PWMM",
                             .meaning = "%d => %d%%",
                             .quantity = 1,
                             .unit = "%",
                             .shows = kValueAndPwmPercent};
inline constexpr Field kKeyb{.name = "KEYB", .bits = kKeybBits};
inline constexpr Field kStop{.name = "STOP", .bits = kStopStateBits};
inline constexpr Field kPulsesLeft{.name = "NBR",
                                   .width = 4,
                                   .meaning = "%d pulses left for the current segment",
                                   .quantity = 0,
                                   .unit = "pulses"};

// Everything after ST.
inline constexpr Step kStatusBlockSteps[] = {
    read(kBuf), read(kSeg), read(kFlag), read(kInput), read(kPwma),
    read(kPwmm), read(kKeyb), read(kStop), read(kPulsesLeft),
};
inline constexpr Layout kStatusBlock{kStatusBlockSteps};

} // namespace vornlog::motion
