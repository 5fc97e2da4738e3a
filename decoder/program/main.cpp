// vornlog: makes a capture of the USB traffic between a PC and a QMR5V
// controller readable, as a full-details report or as a steps CSV.
#include "base/platform.h"
#include "run.h"

int main(int argc, char** argv)
{
    vornlog::holdStandardStreams();
    return vornlog::run(vornlog::commandLineArguments(argc, argv));
}
