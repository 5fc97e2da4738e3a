// The full-details report: for each message of the capture, its echo line
// with the sender, then the lines of the decoder of its instruction.
#pragma once

#include <cstdint>

#include "capture.h"
#include "out.h"
#include "source.h"
#include "texts.h"

namespace vornlog {

class Progress;

// One message as a decoder sees it: its bytes with the read position on
// byte 1 (the instruction code is read), and the report it is written to.
struct Message {
    Bytes bytes;
    std::uint8_t code;
    Out& out;

    std::uint8_t u8() { return bytes.u8(); }
    std::int32_t value(int width) { return bytes.value(width); }
};

using Decoder = void (*)(Message&);

// One instruction of the controller: its code, the instruction line that
// heads its decoded lines, and its decoder for each direction (null: none).
struct Instruction {
    std::uint8_t code;
    TableText line;
    Decoder pc;
    Decoder controller;
};

// The decoder for a message of `code` sent in `direction`; also gives the
// instruction line. Null when the instruction has no decoder that way.
Decoder findDecoder(Direction direction, std::uint8_t code, std::string_view* line);

// The name of instruction `code` as its instruction line gives it
// ("Buffer Management" for 0x42); empty for a code the table does not know.
std::string_view instructionName(std::uint8_t code);

// Decodes one message, given as the hex pairs of a data field, into the
// report: its echo line, its instruction line and its decoded lines.
void reportMessage(Direction direction, std::string_view field, Out& dest);

// Decodes one capture line into the report (nothing for a line that holds
// no message).
void reportLine(std::string_view captureLine, Out& dest);

// The report loop: every record of `in`, counted on the console.
void writeReport(MessageSource& in, Out& dest, Progress& progress);
// The same over the capture lines of a text dump.
void writeReport(LineReader& in, Out& dest, Progress& progress);

} // namespace vornlog
