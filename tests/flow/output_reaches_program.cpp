// Must not compile: output/ sees the floors below it, not the program.
#include "output/report.h"
#include "program/run.h"
