// The fields and tables of the motion-buffer messages: Data and the
// controller's status replies (to Data and Information), Buffer Management
// and Stop.
#pragma once

#include "protocol/fields.h"
#include "protocol/lines.h"
#include "protocol/texts.h"

namespace vornlog::motion {

// ---- Data (0x44) from the PC -----------------------------------------------

inline constexpr std::uint8_t kDataCode = 0x44;

// CMD bits of a Data message beyond the five axis directions.
inline constexpr unsigned kAccelerationBit = 1u << 5; // F_ACC, F_DEC, NBR_DEC follow
inline constexpr unsigned kPwmBit = 1u << 6;          // the PWM byte follows
inline constexpr unsigned kEndOfDataBit = 1u << 7;    // nothing follows CMD

// CMD of a Data message. An axis bit at 0 reverses the axis; a bit at 1
// writes nothing. Bit 7 ends the data: then it alone is shown (the last
// entry), and nothing follows CMD.
inline constexpr BitText kDataCmdBits[] = {
    {0, nullptr, "S1 reversed"},
    {1, nullptr, "S2 reversed"},
    {2, nullptr, "S3 reversed"},
    {3, nullptr, "S4 reversed"},
    {4, nullptr, "S5 reversed"},
    {5, "Acceleration information is present", nullptr},
    {6, "PWM information is present", nullptr},
    {7, "End of data", nullptr},
};
inline constexpr std::span<const BitText> kDataEndBits = std::span(kDataCmdBits).last(1);

inline constexpr Field kDataCmd{.name = "CMD", .head = "     CMD=0x%02X\n", .bits = kDataCmdBits};
inline constexpr Field kDataNbr{.name = "NBR", .width = 4, .head = "     NBR=0x%08X -> ", .meaning = "%d pulses\n", .quantity = 0, .unit = "pulses"};
// The steps of an axis are half its value, truncated toward zero; the
// direction bits do not change the sign shown here.
constexpr std::int32_t stepsOf(std::int32_t value) { return value / 2; }
// The move of axis `axis` (1 to 5) as the steps CSV signs it: its steps,
// negative when its direction bit in CMD is 0 (the axis reversed).
constexpr std::int32_t moveOf(unsigned cmd, int axis, std::int32_t value)
{
    const std::int32_t steps = stepsOf(value);
    return cmd & (1u << (axis - 1)) ? steps : -steps;
}
inline constexpr Field kDataSteps{
    .name = "S%d", .first = 1, .last = 5, .width = 4, .head = "     S%d=0x%08X -> ", .meaning = "%d steps\n", .quantity = 0, .unit = "steps"};
inline constexpr Field kDataPwm{.name = "PWM", .head = "     PWM=0x%02X\t-> ", .meaning = "%d => %d%%\n", .quantity = 1, .unit = "%"};
inline constexpr Field kDataFAcc{.name = "F_ACC", .head = "     F_ACC=0x%02X=", .meaning = "%d\n", .quantity = 0};
inline constexpr Field kDataFDec{.name = "F_DEC", .head = "     F_DEC=0x%02X=", .meaning = "%d\n", .quantity = 0};
inline constexpr Field kDataNbrDec{
    .name = "NBR_DEC", .width = 4, .head = "     NBR_DEC=0x%08X -> ", .meaning = "%d pulses\n", .quantity = 0, .unit = "pulses"};

inline constexpr const Field* kDataFields[] = {&kDataCmd, &kDataNbr, &kDataSteps, &kDataPwm,
                                               &kDataFAcc, &kDataFDec, &kDataNbrDec};

// ---- The controller's status replies to Data (0x44) and Information (0x49)

// ST of the Data reply.
inline constexpr std::uint8_t kNotUsbMode = 0x00;
inline constexpr std::uint8_t kStored = 0x01;
inline constexpr std::uint8_t kBufferFull = 0xFF;
inline constexpr CodeText kDataStatus[] = {
    {kNotUsbMode, "Error not in USB mode\n"},
    {kStored, "Data stored in Buffer\n"},
    {kBufferFull, "Buffer full, data not stored\n"},
};

// ST of the Information reply: any nonzero value is shown as 0xFF.
inline constexpr CodeText kInformationStatus[] = {
    {0x00, "Buffer not full\n"},
    {0xFF, "Buffer full\n"},
};

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

// The fill of the segment buffer, BUF, counted in sevenths, as a
// percentage truncated; no upper bound is applied (8 gives 114).
constexpr int bufferPercent(int buf) { return buf * 100 / 7; }

inline constexpr Field kDataStatusSt{
    .name = "ST", .head = "     ST=0x%02X\t-> ", .codes = kDataStatus, .unknown = kUnknownStatus};
inline constexpr Field kInformationSt{
    .name = "ST", .head = "     ST=0x%02X\t-> ", .codes = kInformationStatus, .unknown = kUnknownStatus};
inline constexpr Field kBuf{.name = "BUF", .head = "     BUF=0x%02X\t-> ", .meaning = "Buffer %d%%\n", .quantity = 0, .unit = "%"};
// The segment being processed and the pulses left for it, as the status
// block and the Stop reply show them.
inline constexpr Field kSeg{
    .name = "SEG", .width = 3, .head = "     SEG=0x%06X\t-> ", .meaning = "segment number being processed:%d\n", .quantity = 0};
inline constexpr Field kFlag{.name = "FLAG", .head = "     FLAG=0x%02X\n", .bits = kFlagBits};
inline constexpr Field kInput{.name = "INPUT", .head = "     INPUT=0x%02X\n", .bits = kInputBits};
// The PWM values of the automatic and the manual mode, as the status block
// and the PWM reply show them.
inline constexpr Field kPwma{.name = "PWMA", .head = "     PWMA=0x%02X\t-> ", .meaning = "%d => %d%%\n", .quantity = 1, .unit = "%"};
inline constexpr Field kPwmm{.name = "PWMM", .head = "     PWMM=0x%02X\t-> ", .meaning = "%d => %d%%\n", .quantity = 1, .unit = "%"};
inline constexpr Field kKeyb{.name = "KEYB", .head = "     KEYB=0x%02X\n", .bits = kKeybBits};
inline constexpr Field kStop{.name = "STOP", .head = "     STOP=0x%02X\n", .bits = kStopStateBits};
inline constexpr Field kPulsesLeft{
    .name = "NBR", .width = 4, .head = "     NBR=0x%08X -> ", .meaning = "%d pulses left for the current segment\n", .quantity = 0, .unit = "pulses"};

inline constexpr const Field* kDataReplyFields[] = {&kDataStatusSt, &kBuf, &kSeg, &kFlag, &kInput,
                                                    &kPwma, &kPwmm, &kKeyb, &kStop, &kPulsesLeft};
inline constexpr const Field* kInformationReplyFields[] = {&kInformationSt, &kBuf, &kSeg, &kFlag, &kInput,
                                                           &kPwma, &kPwmm, &kKeyb, &kStop, &kPulsesLeft};

// ---- Buffer Management (0x42) ----------------------------------------------

inline constexpr int kSourceFlash = 0x02;

inline constexpr CodeText kBufferCommands[] = {
    {0x00, "Reset\n"},
    {0x01, "Source USB\n"},
    {kSourceFlash, "Source Flash\n"},
    {0x80, "Execute\n"},
};

// RET of the Buffer Management reply: 0 is a refusal; any other value is
// OK and shown as 0xFF.
inline constexpr CodeText kBufferResults[] = {
    {0xFF, "OK\n"},
};

inline constexpr Field kBufferCmd{
    .name = "CMD", .head = "     CMD=0x%02X\t-> ", .codes = kBufferCommands, .unknown = kUnknownCommand};
// The place in the controller's flash memory the segments come from.
inline constexpr Field kBufferBck{.name = "BCK", .head = "     BCK=0x%02X\n"};
inline constexpr Field kBufferAdr{.name = "ADR", .width = 2, .head = "     ADR=0x%04X\n"};
inline constexpr Field kBufferRet{
    .name = "RET", .head = "     RET=0x%02X\t-> ", .codes = kBufferResults, .unknown = kUnknownCommand};

inline constexpr const Field* kBufferFields[] = {&kBufferCmd, &kBufferBck, &kBufferAdr};
inline constexpr const Field* kBufferReplyFields[] = {&kBufferRet};

// ---- Stop (0x53) -------------------------------------------------------------

// 0x02 is not a Stop command.
inline constexpr CodeText kStopCommands[] = {
    {0x00, "Fast stop\n"},
    {0x01, "Slow stop\n"},
    {0x03, kGetStatus},
};

inline constexpr Field kStopCmd{
    .name = "CMD", .head = "     CMD=0x%02X\t-> ", .codes = kStopCommands, .unknown = kUnknownCommand};
inline constexpr Field kStopRet{.name = "RET", .head = "     RET=0x%02X\n", .bits = kStopStateBits};

inline constexpr const Field* kStopFields[] = {&kStopCmd};
inline constexpr const Field* kStopReplyFields[] = {&kStopRet, &kSeg, &kPulsesLeft};

} // namespace vornlog::motion
