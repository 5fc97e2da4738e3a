// TABLE (0x54, T): the PC reads and writes the set-up tables kept in the
// controller's EEPROM and the number of the table in use; the controller
// answers with a status or with the part it was asked for. A table travels
// in three parts, each with one layout whichever side sends it.
#pragma once

#include "protocol/fields.h"
#include "protocol/layout.h"
#include "protocol/lines.h"
#include "protocol/texts.h"
#include "setup.h"

namespace vornlog::table {

inline constexpr std::uint8_t kTableCode = 0x54;

// ---- The sub-commands and replies -------------------------------------------

// Read sub-commands are odd, write sub-commands even; the writes of a part
// carry it from byte 3. "%d" is byte 2, the table's number.
inline constexpr std::uint8_t kWriteTableNumber = 0x01;
inline constexpr std::uint8_t kReadLow = 0x03;
inline constexpr std::uint8_t kWriteLow = 0x04;
inline constexpr std::uint8_t kReadHigh = 0x05;
inline constexpr std::uint8_t kWriteHigh = 0x06;
inline constexpr std::uint8_t kReadUpper = 0x07;
inline constexpr std::uint8_t kWriteUpper = 0x08;

inline constexpr CodeText kTableCommands[] = {
    {0x00, "Read table number from EEPROM"},
    {kWriteTableNumber, "Write table number to use in EEPROM and load it"},
    {kReadLow, "Read low part of table %d"},
    {kWriteLow, "Write low part of table %d"},
    {kReadHigh, "Read high part of table %d"},
    {kWriteHigh, "Write high part of table %d"},
    {kReadUpper, "Read upper part of table %d"},
    {kWriteUpper, "Write upper part of table %d"},
};

// Byte 1 of a reply: a status (0x00, 0xFF) or the read sub-command it
// answers, followed by the part that was read. The read requests of the PC
// and the answers to them share their texts.
inline constexpr std::uint8_t kWriteFailed = 0x00;
inline constexpr std::uint8_t kWritten = 0xFF;

inline constexpr CodeText kTableReplies[] = {
    {kWriteFailed, "Write failed or table number %d in use"},
    {kReadLow, "Read low part of table %d"},
    {kReadHigh, "Read high part of table %d"},
    {kReadUpper, "Read upper part of table %d"},
    {kWritten, "Table successfully written in EEPROM"},
};

// The tables in use are 0, 1 and 2.
inline constexpr std::uint8_t kLastTableNumber = 2;
inline constexpr char kInvalidTableNumber[] = "ERROR: invalid number NBR=0x%02X";

inline constexpr Field kTableCmd{
    .name = "CMD", .codes = kTableCommands, .unknown = kUnknownCommand};
inline constexpr Field kTableNumber{
    .name = "NBR", .meaning = "table number %d", .quantity = 0};
// A status shows on a RET line, an echoed sub-command on a CMD line.
inline constexpr Field kTableReplyRet{
    .name = "RET", .codes = kTableReplies, .unknown = kInvalidStatus};
inline constexpr Field kTableReplyCmd{
    .name = "CMD", .codes = kTableReplies, .unknown = kInvalidStatus};

// ---- Low part: 30 bytes ------------------------------------------------------

inline constexpr int kAxes = 5;
inline constexpr int kOutputs = 10;
inline constexpr int kNameLength = 8;

// Axis names A1 to A5. Codes 0 to 3 all mean an axis that is not used;
// codes missing here have no meaning.
inline constexpr const char* kAxisNotUsed = "Not used";
inline constexpr CodeText kAxisCodes[] = {
    {0x00, kAxisNotUsed}, {0x01, kAxisNotUsed}, {0x02, kAxisNotUsed}, {0x03, kAxisNotUsed},
    {0x04, "X"},        {0x05, "XL"},       {0x06, "XR"},
    {0x08, "Y"},        {0x09, "YL"},       {0x0A, "YR"},
    {0x0C, "Z"},        {0x0D, "ZL"},       {0x0E, "ZR"},
    {0x10, "A"},        {0x11, "B"},        {0x12, "C"},
    {0x20, "R"},        {0x21, "RX"},       {0x22, "RY"},       {0x23, "RZ"},
    {0x30, "U"},        {0x31, "V"},        {0x32, "W"},
};

// An OUTn byte: bits 0 to 2 are the axis whose signal the output carries
// (0 none, 6 and 7 invalid), bits 7 and 6 say which signal and how.
inline constexpr unsigned kOutAxisMask = 0x07;
inline constexpr unsigned kLastAxis = 5;
inline constexpr BitText kOutSignalBits[] = {
    {7, "STEP", "DIR"},
    {6, "reversed signal", "normal signal"},
};

// Bits 0 to 2 of FLAGS (bits 3 to 7 are not shown).
inline constexpr BitText kFlagsBits[] = {
    {0, "Origin/End switches enabled", "Origin/End switches disabled"},
    {1, "Table orientation reversed", "Table orientation normal"},
    {2, "M_ON/OFF reversed", "M_ON/OFF normal"},
};

inline constexpr std::uint8_t kSlowestSlope = 0x0F;

// Eight characters, or the empty name when the first is 0.
inline constexpr char kEmptyTableName[] = "empty name...";
inline constexpr Field kTableName{.name = "Table name",
                                  .kind = FieldKind::Text,
                                  .width = kNameLength,
                                  .head = "Table name:\t",
                                  .meaning = "%s"};
inline constexpr char kUnknownAxisCode[] = "Error: Unknown value...";
inline constexpr Field kAxisName{.name = "A%d",
                                 .first = 1,
                                 .last = kAxes,
                                 .head = "A%d=0x%02X->\t",
                                 .codes = kAxisCodes,
                                 .unknown = kUnknownAxisCode};
// Its meaning, on the line below, is the axis of bits 0 to 2.
inline constexpr Field kOutput{
    .name = "OUT%d", .first = 1, .last = kOutputs, .head = "OUT%d=\t0x%02X", .bits = kOutSignalBits};
inline constexpr char kOutputAxisNotUsed[] = "Axe is not used";
inline constexpr char kOutputAxisInvalid[] = "Axe %d is invalid";
inline constexpr char kOutputAxis[] = "Axe=%d";
// In units of 10 kHz.
inline constexpr Scale kTensOf[] = {{10, 1}};
inline constexpr Field kFreq{.name = "FREQ",
                             .meaning = "%dkHz",
                             .quantity = 0,
                             .unit = "kHz",
                             .shows = kTensOf};
inline constexpr Field kSlope{
    .name = "SLOPE", .meaning = "0x00:fastest...0x0F:slowest"};
inline constexpr char kInvalidSlope[] = "ERROR: Invalid value...";
inline constexpr Field kPwmMax{.name = "PWM max",
                               .head = "PWM max=0x%02X -> ",
                               .meaning = "%d => %d%%",
                               .quantity = 1,
                               .unit = "%",
                               .shows = kValueAndPwmPercent};
inline constexpr Field kFlags{.name = "FLAGS", .bits = kFlagsBits};
inline constexpr Field kIo1Setting{.name = "IO1", .bits = kIo1Bits};
inline constexpr Field kLanguage{.name = "LANG"};

inline constexpr Step kLowPartSteps[] = {
    text(kTableName, kEmptyTableName),
    repeat(kAxisName),
    hook(Hook::Outputs, kOutput),
    read(kFreq),
    check(kSlope, 0, kSlowestSlope, Invalid::InLine, kInvalidSlope),
    read(kPwmMax),
    kMoffStep,
    read(kFlags),
    read(kIo1Setting),
    read(kLanguage),
};
inline constexpr Layout kLowPart{kLowPartSteps};

// ---- High part: 30 bytes -----------------------------------------------------

// The steps for 1 mm of each axis turn that axis's speeds into mm/s.
inline constexpr Field kStepsPerMm{.name = "S%d",
                                   .first = 1,
                                   .last = kAxes,
                                   .width = 2,
                                   .meaning = "%d steps for 1mm",
                                   .quantity = 0,
                                   .unit = "steps/mm"};
inline constexpr Field kSpeed{.name = "V%dM",
                              .first = 1,
                              .last = kAxes,
                              .width = 2,
                              .meaning = "%d steps/s -> %.1f mm/s without acceleration",
                              .quantity = 0,
                              .unit = "steps/s"};
inline constexpr Field kSpeedWithAcceleration{.name = "V%dMA",
                                              .first = 1,
                                              .last = kAxes,
                                              .width = 2,
                                              .head = "V%dMA=0x%04X -> ",
                                              .meaning = "%d steps/s -> %.1f mm/s with acceleration",
                                              .quantity = 0,
                                              .unit = "steps/s"};

inline constexpr Step kHighPartSteps[] = {
    repeat(kStepsPerMm),
    hook(Hook::Speeds, kSpeed),
    hook(Hook::Speeds, kSpeedWithAcceleration),
};
inline constexpr Layout kHighPart{kHighPartSteps};

// ---- Upper part: 10 bytes ----------------------------------------------------

inline constexpr Field kOrigin{.name = "ORI%d",
                               .first = 1,
                               .last = kAxes,
                               .width = 2,
                               .meaning = "%d steps from Origin switch",
                               .quantity = 0,
                               .unit = "steps"};

inline constexpr Step kUpperPartSteps[] = {repeat(kOrigin)};
inline constexpr Layout kUpperPart{kUpperPartSteps};

// ---- Each direction ----------------------------------------------------------

// A write carries its part from byte 3, after the table's number.
inline constexpr Step kTablePcSteps[] = {
    read(kTableCmd, kNumberAfter),
    when(kWriteTableNumber, 1),
    check(kTableNumber, 0, kLastTableNumber, Invalid::ErrorLine, kInvalidTableNumber),
    when(kWriteLow, 2), skip(1), part(kLowPart),
    when(kWriteHigh, 2), skip(1), part(kHighPart),
    when(kWriteUpper, 2), skip(1), part(kUpperPart),
};
inline constexpr Layout kTablePc{kTablePcSteps};

// The answer to a read carries the part from byte 3.
inline constexpr Step kTableReplySteps[] = {
    when(kWriteFailed, 2), read(kTableReplyRet, kNumberAfter), stop(),
    when(kWritten, 2), read(kTableReplyRet, kNumberAfter), stop(),
    read(kTableReplyCmd, kNumberAfter),
    when(kReadLow, 2), skip(1), part(kLowPart),
    when(kReadHigh, 2), skip(1), part(kHighPart),
    when(kReadUpper, 2), skip(1), part(kUpperPart),
};
inline constexpr Layout kTableReply{kTableReplySteps};

} // namespace vornlog::table
