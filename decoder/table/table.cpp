#include "table.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "../lines.h"
#include "table_parts.h"

namespace vornlog::table {

namespace {

// Writes the text that completes a CMD or RET line; `number` is byte 2 of
// the message, shown only by the texts that name a table.
using Say = void (*)(Out& out, int number);

template <fmt::Text F>
void say(Out& out, int number)
{
    if constexpr (fmt::parsed<F>.count == 0)
        put<F>(out);
    else
        put<F>(out, number);
}

// The read requests of the PC and the controller's answers to them share
// their texts.
constexpr Say kReadLow = say<"Read low part of table %d\n">;
constexpr Say kReadHigh = say<"Read high part of table %d\n">;
constexpr Say kReadUpper = say<"Read upper part of table %d\n">;

struct SubCommand {
    int code;
    Say text;
    Decoder part; // the table part that follows from byte 3, or null
};

template <std::size_t N>
const SubCommand* find(const SubCommand (&table)[N], int code)
{
    for (const SubCommand& entry : table)
        if (entry.code == code) return &entry;
    return nullptr;
}

constexpr std::uint8_t kWriteTableNumber = 0x01;

// Read sub-commands are odd, write sub-commands even; only the writes carry
// a part.
constexpr SubCommand kPcSubCommands[] = {
    {0x00, say<"Read table number from EEPROM\n">, nullptr},
    {kWriteTableNumber, say<"Write table number to use in EEPROM and load it\n">, nullptr},
    {0x03, kReadLow, nullptr},
    {0x04, say<"Write low part of table %d\n">, lowPart},
    {0x05, kReadHigh, nullptr},
    {0x06, say<"Write high part of table %d\n">, highPart},
    {0x07, kReadUpper, nullptr},
    {0x08, say<"Write upper part of table %d\n">, upperPart},
};

// Byte 1 of a reply: a status (0x00, 0xFF) or the read sub-command it
// answers, followed by the part that was read.
constexpr std::uint8_t kWriteFailed = 0x00;
constexpr std::uint8_t kWritten = 0xFF;

constexpr SubCommand kReplies[] = {
    {kWriteFailed, say<"Write failed or table number %d in use\n">, nullptr},
    {0x03, kReadLow, lowPart},
    {0x05, kReadHigh, highPart},
    {0x07, kReadUpper, upperPart},
    {kWritten, say<"Table successfully written in EEPROM\n">, nullptr},
};

// The tables in use are 0, 1 and 2.
constexpr std::uint8_t kLastTableNumber = 2;

void putNbrLine(Out& out, std::uint8_t nbr)
{
    if (nbr <= kLastTableNumber)
        put<"     NBR=0x%02X\t-> table number %d\n">(out, nbr, nbr);
    else
        putError<"     ERROR: invalid number NBR=0x%02X\n">(out, nbr);
}

} // namespace

void pcTable(Message& message)
{
    const std::uint8_t cmd = message.u8();
    putCmdField(message.out, cmd);
    const SubCommand* entry = find(kPcSubCommands, cmd);
    if (!entry) {
        putErrorText(message.out, kUnknownCommand);
        return;
    }
    const std::uint8_t number = message.u8();
    entry->text(message.out, number);
    if (cmd == kWriteTableNumber) putNbrLine(message.out, number);
    if (entry->part) entry->part(message);
}

void controllerTable(Message& message)
{
    const std::uint8_t first = message.u8();
    // A status shows on a RET line; an echoed sub-command on a CMD line.
    if (first == kWriteFailed || first == kWritten)
        putRetField(message.out, first);
    else
        putCmdField(message.out, first);
    const SubCommand* entry = find(kReplies, first);
    if (!entry) {
        putErrorText(message.out, kInvalidStatus);
        return;
    }
    const std::uint8_t number = message.u8();
    entry->text(message.out, number);
    if (entry->part) entry->part(message);
}

} // namespace vornlog::table
