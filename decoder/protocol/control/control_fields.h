// The fields and tables of the device-control messages: IO1, Motors ON/OFF,
// Override Origin/End, PWM, LCD, Reset, Version and Flash Model.
#pragma once

#include "protocol/fields.h"
#include "protocol/lines.h"
#include "protocol/motion/motion_fields.h"
#include "protocol/setup_fields.h"
#include "protocol/texts.h"

namespace vornlog::control {

// ---- IO1 (0x47) --------------------------------------------------------------

inline constexpr std::uint8_t kChangeIo1Setting = 0x03;
inline constexpr CodeText kIo1Commands[] = {
    {0x00, "Set IO1 pin low\n"},
    {0x01, "Set IO1 pin high\n"},
    {0x02, "Read IO1 pin setting\n"},
    {kChangeIo1Setting, "Change IO1 pin setting\n"},
};

inline constexpr CodeText kIo1Levels[] = {
    {0x00, "IO1 pin is low\n"},
    {0x01, "IO1 pin is high\n"},
};

inline constexpr Field kIo1Cmd{
    .name = "CMD", .head = "     CMD=0x%02X\t-> ", .codes = kIo1Commands, .unknown = kUnknownCommand};
inline constexpr Field kIo1Ret{
    .name = "RET", .head = "     RET=0x%02X\t-> ", .codes = kIo1Levels, .unknown = kInvalidStatus};
// An IO1 setting byte.
inline constexpr Field kIo1Value{.name = "VAL", .head = "     VAL=0x%02X\n", .bits = kIo1Bits};

inline constexpr const Field* kIo1Fields[] = {&kIo1Cmd, &kIo1Value};
inline constexpr const Field* kIo1ReplyFields[] = {&kIo1Ret, &kIo1Value};

// ---- Motors ON/OFF (0x4D) ----------------------------------------------------

inline constexpr std::uint8_t kSetMotorsDelay = 0x03;
inline constexpr CodeText kMotorsCommands[] = {
    {0x00, "Set Motors OFF\n"},
    {0x01, "Set Motors ON\n"},
    {0x02, "Read current status\n"},
    {kSetMotorsDelay, ""}, // set the delay: the MOFF line continues the CMD line
};

inline constexpr CodeText kMotorsStates[] = {
    {0x00, "Motors are OFF\n"},
    {0x01, "Motors are ON\n"},
};

inline constexpr Field kMotorsCmd{
    .name = "CMD", .head = "     CMD=0x%02X\t-> ", .codes = kMotorsCommands, .unknown = kUnknownCommand};
inline constexpr Field kMotorsRet{
    .name = "RET", .head = "     RET=0x%02X\t-> ", .codes = kMotorsStates, .unknown = kInvalidValue};

inline constexpr const Field* kMotorsFields[] = {&kMotorsCmd, &kMoff};
inline constexpr const Field* kMotorsReplyFields[] = {&kMotorsRet, &kMoff};

// ---- Override Origin/End (0x4F) ------------------------------------------------

inline constexpr CodeText kOverrideCommands[] = {
    {0x00, "Do not override=use Origin/End switch\n"},
    {0x01, "Override=move without taking care of the switches\n"},
    {0x02, kGetStatus},
};

// Override status, the controller's reply (bits 4 to 7 not shown).
inline constexpr BitText kOverrideBits[] = {
    {0, "override = do not use the ORIGIN/END switches", "no override = use the ORIGIN/END switches"},
    {1, "current table is configured to use the ORIGIN/END switches",
        "current table does not support the use of the switches"},
    {2, "ORIGIN contact open", "ORIGIN contact close"},
    {3, "END contact open", "END contact close"},
};

inline constexpr Field kOverrideCmd{
    .name = "CMD", .head = "     CMD=0x%02X\t-> ", .codes = kOverrideCommands, .unknown = kUnknownCommand};
inline constexpr Field kOverrideRet{.name = "RET", .head = "     RET=0x%02X\n", .bits = kOverrideBits};

inline constexpr const Field* kOverrideFields[] = {&kOverrideCmd};
inline constexpr const Field* kOverrideReplyFields[] = {&kOverrideRet};

// ---- PWM (0x50) ----------------------------------------------------------------

// The PC's PWM commands; the first two also name the controller's PWM state.
inline constexpr CodeText kPwmCommands[] = {
    {0x00, "PWM off\n"},
    {0x01, "PWM on\n"},
    {0x02, kGetStatus},
};
inline constexpr std::span<const CodeText> kPwmStates = std::span(kPwmCommands).first(2);

// PWM mode, AMO of the controller's PWM reply (bits 2 to 7 not shown).
inline constexpr BitText kPwmModeBits[] = {
    {0, "Mode auto", "Mode manual"},
    {1, "PWM_ON/OFF in position ON", "PWM_ON/OFF in position OFF"},
};

inline constexpr Field kPwmCmd{
    .name = "CMD", .head = "     CMD=0x%02X\t-> ", .codes = kPwmCommands, .unknown = kUnknownCommand};
inline constexpr Field kPwmValue{.name = "VAL", .head = "     VAL=0x%02X\t-> ", .meaning = "%d => %d%%\n", .quantity = 1, .unit = "%"};
inline constexpr Field kPwmSt{
    .name = "ST", .head = "     ST=0x%02X\t-> ", .codes = kPwmStates, .unknown = kUnknownStatus};
inline constexpr Field kPwmMode{.name = "AMO", .head = "     AMO=0x%02X\n", .bits = kPwmModeBits};

inline constexpr const Field* kPwmFields[] = {&kPwmCmd, &kPwmValue};
inline constexpr const Field* kPwmReplyFields[] = {&kPwmSt, &kPwmMode, &motion::kPwma, &motion::kPwmm};

// ---- LCD (0x4C) ----------------------------------------------------------------

// The PC's byte 1 is either a line code, and the message writes a string on
// that line, or a command code.
inline constexpr CodeText kLcdLines[] = {
    {0x00, "1st line\n"},
    {0x01, "2nd line\n"},
    {0x10, "3rd line\n"},
    {0x11, "4th line\n"},
};

inline constexpr std::uint8_t kCreateCharacter = 0x06;
inline constexpr CodeText kLcdCommands[] = {
    {0x02, "Disable interface default display\n"},
    {0x03, "Enable interface default display\n"},
    {0x04, kGetStatus},
    {0x05, "Clear display\n"},
    {kCreateCharacter, "Create a graphic character\n"},
};

// The state of the interface default display, the controller's answer.
inline constexpr CodeText kLcdStates[] = {
    {0x00, "Disable\n"},
    {0x01, "Enable\n"},
};

inline constexpr int kLineLength = 20; // characters of a display line
inline constexpr int kGraphicCharacters = 8;
inline constexpr int kGraphicRows = 8;

// POS, LEN, CHAR and the rows of a graphic character show their hexadecimal
// value two characters wide, padded with a space and not a zero ("0x 5").
inline constexpr Field kLcdLine{.name = "LINE", .head = "     LINE=0x%02X\t-> ", .codes = kLcdLines};
inline constexpr Field kLcdPos{.name = "POS", .head = "     POS=0x%2X=", .meaning = "%d\n", .quantity = 0};
inline constexpr Field kLcdLength{.name = "LEN", .head = "     LEN=0x%2X=", .meaning = "%d\n", .quantity = 0};
inline constexpr Field kLcdString{
    .name = "STRING", .kind = FieldKind::Text, .width = 0, .head = "     STRING=", .meaning = "%s\n"};
inline constexpr Field kLcdCmd{
    .name = "CMD", .head = "     CMD=0x%02X\t-> ", .codes = kLcdCommands, .unknown = kUnknownCommand};
inline constexpr Field kLcdCharacter{.name = "CHAR", .head = "     CHAR=0x%2X=", .meaning = "%d\n", .quantity = 0};
// The rows of a graphic character, all on one line.
inline constexpr Field kLcdRow{.name = "C%d", .first = 0, .last = kGraphicRows - 1, .head = "C%d=0x%2X "};
inline constexpr Field kLcdRet{
    .name = "RET", .head = "     RET=0x%02X\t-> ", .codes = kLcdStates, .unknown = kInvalidStatus};

// The errors of a write-string or create-character value out of range.
inline constexpr char kInvalidLcdPos[] = "     ERROR invalid value POS=0x%2X=%d\n";
inline constexpr char kInvalidLcdLength[] = "     ERROR invalid value LEN=0x%2X=%d\n";
inline constexpr char kInvalidLcdCharacter[] = "     ERROR invalid character hex code value=0x%2X=%d\n";

inline constexpr const Field* kLcdFields[] = {&kLcdLine, &kLcdPos,       &kLcdLength, &kLcdString,
                                              &kLcdCmd,  &kLcdCharacter, &kLcdRow};
inline constexpr const Field* kLcdReplyFields[] = {&kLcdRet};

// ---- Reset (0x5A), Version (0x56), Flash Model (0x46) -----------------------

// The two bytes a Reset must carry, read as a little-endian value: 55 AA.
inline constexpr std::int32_t kResetSequence = 0xAA55;
inline constexpr char kNoResetSequence[] = "     ERROR: Reset sequence 0xAA55 not present...\n";

// The line of a request that carries nothing after its code.
inline constexpr char kNoParameters[] = "     No paramters\n";

inline constexpr CodeText kRebootModes[] = {
    {0x00, "Reboot in Normal mode\n"},
    {0x01, "Reboot in Boot Loader mode\n"},
};

inline constexpr int kVersionLength = 11;

inline constexpr Field kResetSequenceField{
    .name = "Reset sequence", .width = 2, .head = "     Reset sequence 0x%04X ", .meaning = "OK\n"};
inline constexpr Field kBootLoader{
    .name = "BLDR", .head = "     BLDR=0x%02X\t-> ", .codes = kRebootModes, .unknown = kUnknownCommand};
// Exactly eleven characters.
inline constexpr Field kVersion{.name = "Version",
                                .kind = FieldKind::Text,
                                .width = kVersionLength,
                                .head = "     Version=\t",
                                .meaning = "%s\n"};
inline constexpr Field kFlashId{.name = "ID", .head = "     ID=\t0x%02X\n"};
inline constexpr Field kFlashType{.name = "TYPE", .head = "     TYPE=\t0x%02X\n"};
inline constexpr Field kFlashSize{.name = "SIZE", .head = "     SIZE=\t0x%02X\n"};
inline constexpr Field kFlashWps{.name = "WPS", .head = "     WPS=\t0x%02X\n"};

inline constexpr const Field* kResetFields[] = {&kResetSequenceField, &kBootLoader};
inline constexpr const Field* kVersionReplyFields[] = {&kVersion};
inline constexpr const Field* kFlashModelReplyFields[] = {&kFlashId, &kFlashType, &kFlashSize, &kFlashWps};

} // namespace vornlog::control
