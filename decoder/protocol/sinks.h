// The sinks that every decoder is compiled for.
#pragma once

#include "events.h"
#include "output/json_sink.h"
#include "output/report.h"
#include "values.h"

// Compiles the decoder template `name` for every sink; written in the file
// that defines it, inside its namespace.
#define VORNLOG_DECODER(name)                       \
    template void name(Message<ReportSink>&);       \
    template void name(Message<EventSink>&);        \
    template void name(Message<JsonSink>&);         \
    template void name(Message<ValueSink>&)
