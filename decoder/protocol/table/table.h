// The Table instruction (0x54, T): the PC reads and writes the set-up
// tables kept in the controller's EEPROM and the number of the table in
// use; the controller answers with a status or with the part it was asked
// for.
#pragma once

#include "table_fields.h"
#include "protocol/emit.h"

namespace vornlog::table {

// Message decoders of the Table instruction, one for each direction. Both
// start on byte 1 (the sub-command or the reply's status).
template <class S> void pcTable(Message<S>& message);
template <class S> void controllerTable(Message<S>& message);

} // namespace vornlog::table
