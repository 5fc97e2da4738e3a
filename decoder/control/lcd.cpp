// LCD (0x4C). The PC's byte 1 is either a line code, and the message writes
// a string on that line, or a command code. The controller answers with the
// state of its interface default display.
//
// POS, LEN, CHAR and the rows of a graphic character show their hexadecimal
// value two characters wide, padded with a space and not a zero ("0x 5").
#include <string_view>

#include "control.h"
#include "../lines.h"

namespace vornlog::control {

namespace {

constexpr CodeText kLcdLines[] = {
    {0x00, "1st line\n"},
    {0x01, "2nd line\n"},
    {0x10, "3rd line\n"},
    {0x11, "4th line\n"},
};

constexpr CodeText kLcdCommands[] = {
    {0x02, "Disable interface default display\n"},
    {0x03, "Enable interface default display\n"},
    {0x04, kGetStatus},
    {0x05, "Clear display\n"},
    {0x06, "Create a graphic character\n"},
};
constexpr int kCreateCharacter = 0x06;

constexpr CodeText kLcdStates[] = {
    {0x00, "Disable\n"},
    {0x01, "Enable\n"},
};

constexpr int kLineLength = 20;     // characters of a display line
constexpr int kGraphicCharacters = 8;
constexpr int kGraphicRows = 8;

// POS, LEN and STRING of a write-string message. Out-of-range values are
// shown as errors and used as they are: the string has LEN characters.
void writeString(Message& message)
{
    Out& out = message.out;
    const std::uint8_t pos = message.u8();
    if (pos < kLineLength)
        put<"     POS=0x%2X=%d\n">(out, pos, pos);
    else
        putError<"     ERROR invalid value POS=0x%2X=%d\n">(out, pos, pos);

    const std::uint8_t length = message.u8();
    if (length >= 1 && length <= kLineLength)
        put<"     LEN=0x%2X=%d\n">(out, length, length);
    else
        putError<"     ERROR invalid value LEN=0x%2X=%d\n">(out, length, length);

    // The characters go out raw: control codes and zero bytes included.
    put<"     STRING=">(out);
    for (int i = 0; i < length; ++i) put<"%c">(out, message.u8());
    put<"\n">(out);
}

// CHAR and the eight rows of a graphic character, all rows on one line.
void createCharacter(Message& message)
{
    Out& out = message.out;
    const std::uint8_t character = message.u8();
    if (character < kGraphicCharacters)
        put<"     CHAR=0x%2X=%d\n">(out, character, character);
    else
        putError<"     ERROR invalid character hex code value=0x%2X=%d\n">(out, character, character);

    put<"     ">(out);
    for (int row = 0; row < kGraphicRows; ++row) put<"C%d=0x%2X ">(out, row, message.u8());
    put<"\n">(out);
}

} // namespace

void pcLcd(Message& message)
{
    const std::uint8_t first = message.u8();
    if (const char* line = lookup(kLcdLines, first)) {
        put<"     LINE=0x%02X\t-> %s">(message.out, first, std::string_view(line));
        writeString(message);
        return;
    }
    if (!putCmdLine(message.out, first, kLcdCommands)) return;
    if (first == kCreateCharacter) createCharacter(message);
}

void controllerLcd(Message& message)
{
    putRetLine(message.out, message.u8(), kLcdStates, kInvalidStatus);
}

} // namespace vornlog::control
