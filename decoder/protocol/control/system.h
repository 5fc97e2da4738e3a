// Reset (0x5A, from the PC only), Version (0x56) and Flash Model (0x46):
// messages about the controller itself.
#pragma once

#include <string_view>

#include "control.h"

namespace vornlog::control {

template <class S>
void pcReset(Message<S>& m)
{
    const std::int32_t sequence = m.value(2);
    if (sequence != kResetSequence) {
        valueOnly<kResetSequenceField>(m, sequence);
        error<kNoResetSequence>(m);
        return;
    }
    field<kResetSequenceField>(m, sequence);
    codeField<kBootLoader>(m, m.u8());
}

template <class S>
void pcNoParameters(Message<S>& m)
{
    line<kNoParameters>(m);
}

template <class S>
void controllerVersion(Message<S>& m)
{
    // Exactly eleven characters, written raw: no stop at a zero byte.
    char version[kVersionLength];
    for (char& c : version) c = static_cast<char>(m.u8());
    field<kVersion>(m, std::string_view(version, kVersionLength));
}

template <class S>
void controllerFlashModel(Message<S>& m)
{
    field<kFlashId>(m, m.u8());
    field<kFlashType>(m, m.u8());
    field<kFlashSize>(m, m.u8());
    field<kFlashWps>(m, m.u8());
}

} // namespace vornlog::control
