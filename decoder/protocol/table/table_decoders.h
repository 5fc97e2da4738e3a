// The Table instruction's decoders: the PC's reads and writes, the controller's
// status or part.
#pragma once

#include "table.h"

#include <cstdint>

#include "table_parts.h"

namespace vornlog::table {

// The part that a write of the PC carries from byte 3.
template <class S>
void writtenPart(Message<S>& message, std::uint8_t cmd)
{
    switch (cmd) {
    case kWriteLow: lowPart(message); break;
    case kWriteHigh: highPart(message); break;
    case kWriteUpper: upperPart(message); break;
    default: break;
    }
}

// The part that the controller's answer to a read carries from byte 3.
template <class S>
void readPart(Message<S>& message, std::uint8_t echoed)
{
    switch (echoed) {
    case kReadLow: lowPart(message); break;
    case kReadHigh: highPart(message); break;
    case kReadUpper: upperPart(message); break;
    default: break;
    }
}

template <class S>
void pcTable(Message<S>& message)
{
    const std::uint8_t cmd = message.u8();
    if (!lookup(kTableCommands, cmd)) {
        codeField<kTableCmd>(message, cmd);
        return;
    }
    const std::uint8_t number = message.u8();
    codeField<kTableCmd>(message, cmd, number);
    if (cmd == kWriteTableNumber) {
        if (number <= kLastTableNumber) {
            field<kTableNumber>(message, number, number);
        } else {
            valueOnly<kTableNumber>(message, number);
            error<kInvalidTableNumber>(message, number);
        }
    }
    writtenPart(message, cmd);
}

template <class S>
void controllerTable(Message<S>& message)
{
    const std::uint8_t first = message.u8();
    const bool status = first == kWriteFailed || first == kWritten;
    if (!lookup(kTableReplies, first)) {
        // Never a status: both are named.
        codeField<kTableReplyCmd>(message, first);
        return;
    }
    const std::uint8_t number = message.u8();
    if (status)
        codeField<kTableReplyRet>(message, first, number);
    else
        codeField<kTableReplyCmd>(message, first, number);
    readPart(message, first);
}

} // namespace vornlog::table
