// The decoders of the three parts a table travels in.
#pragma once

#include "table_parts.h"

#include <cstdint>
#include <string_view>

#include "protocol/setup_fields.h"

namespace vornlog::table {

// Eight raw characters, or the empty name when the first is 0; the rest of
// the name is then skipped.
template <class S>
void tableName(Message<S>& m)
{
    char name[kNameLength];
    name[0] = static_cast<char>(m.u8());
    if (name[0] == 0) {
        field<kTableName, kEmptyTableName>(m);
        m.bytes.seek(m.bytes.position() + kNameLength - 1);
        return;
    }
    for (int i = 1; i < kNameLength; ++i) name[i] = static_cast<char>(m.u8());
    field<kTableName>(m, std::string_view(name, kNameLength));
}

template <class S>
void output(Message<S>& m, int n, std::uint8_t signal)
{
    const unsigned axis = signal & kOutAxisMask;
    if (axis == 0) {
        field<kOutput, kOutputAxisNotUsed>(m, n, signal);
    } else if (axis > kLastAxis) {
        field<kOutput>(m, n, signal);
        error<kOutputAxisInvalid>(m, axis);
    } else {
        field<kOutput, kOutputAxis>(m, n, signal, axis);
        bits(m, kOutSignalBits, signal);
    }
}

template <class S>
void lowPart(Message<S>& m)
{
    tableName(m);
    for (int n = 1; n <= kAxes; ++n) codeFieldAt<kAxisName>(m, n, m.u8());
    for (int n = 1; n <= kOutputs; ++n) output(m, n, m.u8());

    const std::uint8_t freq = m.u8();
    field<kFreq>(m, freq, freq * 10);

    const std::uint8_t slope = m.u8();
    if (slope <= kSlowestSlope)
        field<kSlope>(m, slope);
    else
        fieldError<kSlope, kInvalidSlope>(m, slope);

    const std::uint8_t pwmMax = m.u8();
    field<kPwmMax>(m, pwmMax, pwmMax, pwmPercent(pwmMax));

    moffField(m, m.u8());

    const std::uint8_t flags = m.u8();
    field<kFlags>(m, flags);
    bits(m, kFlagsBits, flags);

    const std::uint8_t io1 = m.u8();
    field<kIo1Setting>(m, io1);
    bits(m, kIo1Bits, io1);

    field<kLanguage>(m, m.u8());
}

template <class S>
void highPart(Message<S>& m)
{
    // An axis with 0 steps for 1 mm shows no speed lines.
    std::int32_t steps[kAxes];
    for (int n = 1; n <= kAxes; ++n) {
        const std::int32_t s = m.value(2);
        steps[n - 1] = s;
        field<kStepsPerMm>(m, n, s, s);
    }
    for (int n = 1; n <= kAxes; ++n) {
        const std::int32_t speed = m.value(2);
        const std::int32_t s = steps[n - 1];
        if (s == 0) continue;
        field<kSpeed>(m, n, speed, speed, static_cast<double>(speed) / s);
    }
    for (int n = 1; n <= kAxes; ++n) {
        const std::int32_t speed = m.value(2);
        const std::int32_t s = steps[n - 1];
        if (s == 0) continue;
        field<kSpeedWithAcceleration>(m, n, speed, speed, static_cast<double>(speed) / s);
    }
}

template <class S>
void upperPart(Message<S>& m)
{
    for (int n = 1; n <= kAxes; ++n) {
        const std::int32_t ori = m.value(2);
        field<kOrigin>(m, n, ori, ori);
    }
}

} // namespace vornlog::table
