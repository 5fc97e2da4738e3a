// The messages around the stream of Data messages: Buffer Management (reset,
// segment source, execute) and Stop.
#pragma once

#include "motion.h"

namespace vornlog::motion {

template <class S>
void pcBufferManagement(Message<S>& m)
{
    const int cmd = m.u8();
    if (!codeField<kBufferCmd>(m, cmd)) return;
    if (cmd == kSourceFlash) {
        const int bck = m.u8();
        field<kBufferBck>(m, bck);
        const std::int32_t adr = m.value(2);
        field<kBufferAdr>(m, adr);
    }
}

template <class S>
void controllerBufferManagement(Message<S>& m)
{
    codeField<kBufferRet>(m, m.u8() == 0 ? 0x00 : 0xFF);
}

template <class S>
void pcStop(Message<S>& m)
{
    codeField<kStopCmd>(m, m.u8());
}

template <class S>
void controllerStop(Message<S>& m)
{
    const int ret = m.u8();
    field<kStopRet>(m, ret);
    bits(m, kStopStateBits, ret);
    const std::int32_t seg = m.value(3);
    field<kSeg>(m, seg, seg);
    const std::int32_t nbr = m.value(4);
    field<kPulsesLeft>(m, nbr, nbr);
}

} // namespace vornlog::motion
