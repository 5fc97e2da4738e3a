// Must not compile: protocol/ sees the ground floor and itself, not the
// outputs above it.
#include "protocol/emit.h"
#include "output/report.h"
