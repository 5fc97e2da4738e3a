// LCD (0x4C, L). The PC's byte 1 is either a line code, and the message
// writes a string on that line, or a command code. The controller answers
// with the state of its interface default display.
#pragma once

#include "protocol/fields.h"
#include "protocol/layout.h"
#include "protocol/lines.h"
#include "protocol/texts.h"

namespace vornlog::control {

inline constexpr CodeText kLcdLines[] = {
    {0x00, "1st line"},
    {0x01, "2nd line"},
    {0x10, "3rd line"},
    {0x11, "4th line"},
};

inline constexpr std::uint8_t kCreateCharacter = 0x06;
inline constexpr CodeText kLcdCommands[] = {
    {0x02, "Disable interface default display"},
    {0x03, "Enable interface default display"},
    {0x04, kGetStatus},
    {0x05, "Clear display"},
    {kCreateCharacter, "Create a graphic character"},
};

// The state of the interface default display, the controller's answer.
inline constexpr CodeText kLcdStates[] = {
    {0x00, "Disable"},
    {0x01, "Enable"},
};

inline constexpr int kLineLength = 20; // characters of a display line
inline constexpr int kGraphicCharacters = 8;
inline constexpr int kGraphicRows = 8;

// POS, LEN, CHAR and the rows of a graphic character show their hexadecimal
// value two characters wide, padded with a space and not a zero ("0x 5").
inline constexpr Field kLcdLine{.name = "LINE", .codes = kLcdLines};
inline constexpr Field kLcdPos{.name = "POS", .head = "POS=0x%2X=", .meaning = "%d", .quantity = 0};
inline constexpr Field kLcdLength{.name = "LEN", .head = "LEN=0x%2X=", .meaning = "%d", .quantity = 0};
// The characters go out raw: control codes and zero bytes included.
inline constexpr Field kLcdString{
    .name = "STRING", .kind = FieldKind::Text, .width = 0, .meaning = "%s"};
inline constexpr Field kLcdCmd{
    .name = "CMD", .codes = kLcdCommands, .unknown = kUnknownCommand};
inline constexpr Field kLcdCharacter{.name = "CHAR", .head = "CHAR=0x%2X=", .meaning = "%d", .quantity = 0};
// The rows of a graphic character, all on one line.
inline constexpr Field kLcdRow{
    .name = "C%d", .first = 0, .last = kGraphicRows - 1, .head = "C%d=0x%2X ", .sharesLine = true};
inline constexpr Field kLcdRet{
    .name = "RET", .codes = kLcdStates, .unknown = kInvalidStatus};

// The errors of a write-string or create-character value out of range.
inline constexpr char kInvalidLcdPos[] = "ERROR invalid value POS=0x%2X=%d";
inline constexpr char kInvalidLcdLength[] = "ERROR invalid value LEN=0x%2X=%d";
inline constexpr char kInvalidLcdCharacter[] = "ERROR invalid character hex code value=0x%2X=%d";

// Out-of-range values are shown as errors and used as they are: the string
// has LEN characters.
inline constexpr Step kLcdPcSteps[] = {
    whenNamed(kLcdLine, 5),
    read(kLcdLine),
    check(kLcdPos, 0, kLineLength - 1, Invalid::ErrorLine, kInvalidLcdPos),
    check(kLcdLength, 1, kLineLength, Invalid::ErrorLine, kInvalidLcdLength),
    textOf(kLcdString, kLcdLength),
    stop(),
    read(kLcdCmd),
    when(kCreateCharacter, 2),
    check(kLcdCharacter, 0, kGraphicCharacters - 1, Invalid::ErrorLine, kInvalidLcdCharacter),
    repeat(kLcdRow),
};
inline constexpr Layout kLcdPc{kLcdPcSteps};

inline constexpr Step kLcdReplySteps[] = {read(kLcdRet)};
inline constexpr Layout kLcdReply{kLcdReplySteps};

} // namespace vornlog::control
