// LCD (0x4C). The PC's byte 1 is either a line code, and the message writes
// a string on that line, or a command code. The controller answers with the
// state of its interface default display.
#pragma once

#include <string_view>

#include "control.h"

namespace vornlog::control {

// POS, LEN and STRING of a write-string message. Out-of-range values are
// shown as errors and used as they are: the string has LEN characters.
template <class S>
void writeString(Message<S>& m)
{
    const std::uint8_t pos = m.u8();
    if (pos < kLineLength) {
        field<kLcdPos>(m, pos, pos);
    } else {
        valueOnly<kLcdPos>(m, pos);
        error<kInvalidLcdPos>(m, pos, pos);
    }

    const std::uint8_t length = m.u8();
    if (length >= 1 && length <= kLineLength) {
        field<kLcdLength>(m, length, length);
    } else {
        valueOnly<kLcdLength>(m, length);
        error<kInvalidLcdLength>(m, length, length);
    }

    // The characters go out raw: control codes and zero bytes included.
    char text[256];
    for (int i = 0; i < length; ++i) text[i] = static_cast<char>(m.u8());
    field<kLcdString>(m, std::string_view(text, length));
}

// CHAR and the eight rows of a graphic character, all rows on one line.
template <class S>
void createCharacter(Message<S>& m)
{
    const std::uint8_t character = m.u8();
    if (character < kGraphicCharacters) {
        field<kLcdCharacter>(m, character, character);
    } else {
        valueOnly<kLcdCharacter>(m, character);
        error<kInvalidLcdCharacter>(m, character, character);
    }

    line<"     ">(m);
    for (int row = 0; row < kGraphicRows; ++row) field<kLcdRow>(m, row, m.u8());
    line<"\n">(m);
}

template <class S>
void pcLcd(Message<S>& m)
{
    const std::uint8_t first = m.u8();
    if (lookup(kLcdLines, first)) {
        codeField<kLcdLine>(m, first);
        writeString(m);
        return;
    }
    if (!codeField<kLcdCmd>(m, first)) return;
    if (first == kCreateCharacter) createCharacter(m);
}

template <class S>
void controllerLcd(Message<S>& m)
{
    codeField<kLcdRet>(m, m.u8());
}

} // namespace vornlog::control
