// IO1 (0x47), Motors ON/OFF (0x4D), Override Origin/End (0x4F) and PWM
// (0x50): a one-byte command from the PC, the resulting state from the
// controller. A reply is decoded by itself, whatever the PC asked.
#pragma once

#include "control.h"
#include "protocol/setup_fields.h"

namespace vornlog::control {

// An IO1 setting byte: its field line, then the bit lines of bits 0 to 2.
template <class S>
void io1Setting(Message<S>& m, std::uint8_t value)
{
    field<kIo1Value>(m, value);
    bits(m, kIo1Bits, value);
}

template <class S>
void pcIo1(Message<S>& m)
{
    const std::uint8_t cmd = m.u8();
    if (!codeField<kIo1Cmd>(m, cmd)) return;
    if (cmd == kChangeIo1Setting) io1Setting(m, m.u8());
}

template <class S>
void controllerIo1(Message<S>& m)
{
    codeField<kIo1Ret>(m, m.u8());
    io1Setting(m, m.u8());
}

template <class S>
void pcMotors(Message<S>& m)
{
    const std::uint8_t cmd = m.u8();
    if (!codeField<kMotorsCmd>(m, cmd)) return;
    if (cmd == kSetMotorsDelay) moffField(m, m.u8());
}

template <class S>
void controllerMotors(Message<S>& m)
{
    codeField<kMotorsRet>(m, m.u8());
    moffField(m, m.u8());
}

template <class S>
void pcOverride(Message<S>& m)
{
    codeField<kOverrideCmd>(m, m.u8());
}

template <class S>
void controllerOverride(Message<S>& m)
{
    const std::uint8_t status = m.u8();
    field<kOverrideRet>(m, status);
    bits(m, kOverrideBits, status);
}

template <class S>
void pcPwm(Message<S>& m)
{
    const std::uint8_t cmd = m.u8();
    if (!codeField<kPwmCmd>(m, cmd)) return;
    if (cmd == 0x00 || cmd == 0x01) {
        const std::uint8_t value = m.u8();
        field<kPwmValue>(m, value, value, pwmPercent(value));
    }
}

template <class S>
void controllerPwm(Message<S>& m)
{
    codeField<kPwmSt>(m, m.u8());

    const std::uint8_t mode = m.u8();
    field<kPwmMode>(m, mode);
    bits(m, kPwmModeBits, mode);

    const std::uint8_t automatic = m.u8();
    field<motion::kPwma>(m, automatic, automatic, pwmPercent(automatic));
    const std::uint8_t manual = m.u8();
    field<motion::kPwmm>(m, manual, manual, pwmPercent(manual));
}

} // namespace vornlog::control
