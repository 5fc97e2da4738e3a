// Must not compile: the launcher sees the instruction set's header and no
// other header of the decoder.
#include "protocol/instruction_set.h"
#include "protocol/instructions.h"
