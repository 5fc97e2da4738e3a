// The sinks that every decoder is compiled for.
#pragma once

#include "events.h"
#include "json_sink.h"
#include "report.h"

// Compiles the decoder template `name` for every sink; written in the file
// that defines it, inside its namespace.
#define VORNLOG_DECODER(name)                       \
    template void name(Message<ReportSink>&);       \
    template void name(Message<EventSink>&);        \
    template void name(Message<JsonSink>&)
