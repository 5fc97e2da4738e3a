// The Data message that streams one motion segment into the controller's
// buffer, and the controller's status replies (to Data and to Information),
// which carry the status block.
#pragma once

#include "motion.h"

namespace vornlog::motion {

constexpr std::uint8_t kInformation = 0x49;

template <class S>
void statusBlock(Message<S>& m)
{
    const int buf = m.u8();
    field<kBuf>(m, buf, bufferPercent(buf));
    const std::int32_t seg = m.value(3);
    field<kSeg>(m, seg, seg);
    const int flag = m.u8();
    field<kFlag>(m, flag);
    bits(m, kFlagBits, flag);
    const int input = m.u8();
    field<kInput>(m, input);
    bits(m, kInputBits, input);
    const int pwma = m.u8();
    field<kPwma>(m, pwma, pwma, pwmPercent(pwma));
    const int pwmm = m.u8();
    field<kPwmm>(m, pwmm, pwmm, pwmPercent(pwmm));
    const int keyb = m.u8();
    field<kKeyb>(m, keyb);
    bits(m, kKeybBits, keyb);
    const int stop = m.u8();
    field<kStop>(m, stop);
    bits(m, kStopStateBits, stop);
    const std::int32_t nbr = m.value(4);
    field<kPulsesLeft>(m, nbr, nbr);
}

template <class S>
void pcData(Message<S>& m)
{
    const unsigned cmd = m.u8();
    field<kDataCmd>(m, cmd);
    if (cmd & kEndOfDataBit) {
        bits(m, kDataEndBits, cmd);
        return;
    }
    bits(m, kDataCmdBits, cmd);

    const std::int32_t nbr = m.value(4);
    field<kDataNbr>(m, nbr, nbr);
    for (int axis = 1; axis <= 5; ++axis) {
        const std::int32_t v = m.value(4);
        field<kDataSteps>(m, axis, v, stepsOf(v));
    }
    if (cmd & kPwmBit) {
        const int pwm = m.u8();
        field<kDataPwm>(m, pwm, pwm, pwmPercent(pwm));
    }
    if (cmd & kAccelerationBit) {
        const int fAcc = m.u8();
        field<kDataFAcc>(m, fAcc, fAcc);
        const int fDec = m.u8();
        field<kDataFDec>(m, fDec, fDec);
        const std::int32_t nbrDec = m.value(4);
        field<kDataNbrDec>(m, nbrDec, nbrDec);
    }
}

template <class S>
void controllerStatus(Message<S>& m)
{
    const int st = m.u8();
    if (m.code == kInformation)
        codeField<kInformationSt>(m, st == 0 ? 0x00 : 0xFF);
    else
        codeField<kDataStatusSt>(m, st);
    statusBlock(m);
}

} // namespace vornlog::motion
