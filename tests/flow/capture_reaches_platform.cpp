// Must not compile: the decoding core builds without the platform calls,
// which only the program links.
#include "capture/capture.h"
#include "base/platform.h"
