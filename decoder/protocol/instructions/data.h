// Data (0x44, D): one motion segment from the PC into the controller's
// buffer; the controller answers with ST and the status block.
#pragma once

#include "protocol/fields.h"
#include "protocol/layout.h"
#include "protocol/lines.h"
#include "protocol/texts.h"
#include "status.h"

namespace vornlog::motion {

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

// The steps of an axis are half its value, truncated toward zero; the
// direction bits do not change the sign shown here.
inline constexpr Scale kHalf[] = {{1, 2}};
constexpr std::int32_t stepsOf(std::int32_t value) { return kHalf[0].of(value); }
// The move of axis `axis` (1 to 5) as the steps CSV signs it: its steps,
// negative when its direction bit in CMD is 0 (the axis reversed).
constexpr std::int32_t moveOf(unsigned cmd, int axis, std::int32_t value)
{
    const std::int32_t steps = stepsOf(value);
    return cmd & (1u << (axis - 1)) ? steps : -steps;
}

inline constexpr Field kDataCmd{.name = "CMD", .bits = kDataCmdBits};
inline constexpr Field kDataNbr{
    .name = "NBR", .width = 4, .meaning = "%d pulses", .quantity = 0, .unit = "pulses"};
inline constexpr Field kDataSteps{.name = "S%d",
                                  .first = 1,
                                  .last = 5,
                                  .width = 4,
                                  .meaning = "%d steps",
                                  .quantity = 0,
                                  .unit = "steps",
                                  .shows = kHalf};
inline constexpr Field kDataPwm{.name = "PWM",
                                .meaning = "%d => %d%%",
                                .quantity = 1,
                                .unit = "%",
                                .shows = kValueAndPwmPercent};
inline constexpr Field kDataFAcc{.name = "F_ACC", .head = "F_ACC=0x%02X=", .meaning = "%d", .quantity = 0};
inline constexpr Field kDataFDec{.name = "F_DEC", .head = "F_DEC=0x%02X=", .meaning = "%d", .quantity = 0};
inline constexpr Field kDataNbrDec{.name = "NBR_DEC",
                                   .width = 4,
                                   .meaning = "%d pulses",
                                   .quantity = 0,
                                   .unit = "pulses"};

// ST of the reply.
inline constexpr std::uint8_t kNotUsbMode = 0x00;
inline constexpr std::uint8_t kStored = 0x01;
inline constexpr std::uint8_t kBufferFull = 0xFF;
inline constexpr CodeText kDataStatus[] = {
    {kNotUsbMode, "Error not in USB mode"},
    {kStored, "Data stored in Buffer"},
    {kBufferFull, "Buffer full, data not stored"},
};
inline constexpr Field kDataStatusSt{
    .name = "ST", .codes = kDataStatus, .unknown = kUnknownStatus};

inline constexpr Step kDataPcSteps[] = {
    whenBit(kEndOfDataBit, 2), readWithRows(kDataCmd, kDataEndBits), stop(),
    read(kDataCmd),
    read(kDataNbr),
    repeat(kDataSteps),
    whenBit(kPwmBit, 1), read(kDataPwm),
    whenBit(kAccelerationBit, 3), read(kDataFAcc), read(kDataFDec), read(kDataNbrDec),
};
inline constexpr Layout kDataPc{kDataPcSteps};

inline constexpr Step kDataReplySteps[] = {read(kDataStatusSt), part(kStatusBlock)};
inline constexpr Layout kDataReply{kDataReplySteps};

} // namespace vornlog::motion
