#include "steps_csv.h"

#include "analysis/segments.h"
#include "output/progress.h"
#include "protocol/instructions.h"

namespace vornlog {

namespace {

using namespace motion;

void writeRow(Out& dest, const StoredSegment& stored)
{
    const Segment& s = stored.segment;
    if (s.endOfData()) {
        put<"%d;-\n">(dest, stored.seg);
        return;
    }
    put<"%d;%d%%;%d;%d;%d;%d;%d;%d">(dest, stored.seg, bufferPercent(stored.buf), s.nbr, s.steps[0], s.steps[1],
                                    s.steps[2], s.steps[3], s.steps[4]);
    if (s.hasPwm())
        put<";%d">(dest, s.pwm);
    else
        put<";">(dest);
    if (s.hasAcceleration())
        put<";%d;%d;%d">(dest, s.fAcc, s.fDec, s.nbrDec);
    else
        put<";;;">(dest);
    put<"\n">(dest);
}

} // namespace

void writeStepsCsv(MessageSource& in, Out& dest, Out& console, Progress& progress)
{
    put<"Cur_seg;Buffer;Nbr pulse;S1;S2;S3;S4;S5;PWM;F_ACC;F_DEC;Nbr dec\n">(dest);
    put<"\n">(console);

    // Only the Data messages and replies are decoded, into the values that
    // segments are made of.
    SegmentSink data;
    StoredSegments segments;
    StoredSegment stored;
    CaptureRecord record;
    while (!dest.failed() && in.next(record)) {
        progress.count();
        if (!record.isMessage || record.shortLine || instructionCode(record.field) != kDataCode) continue;
        if (ValueSink* values = in.valuesFor(record))
            decodeData(record.direction, record.field, data, *values);
        else
            decodeData(record.direction, record.field, data);
        if (segments.feed(record.direction, data.message(), stored) == DataEvent::Stored) writeRow(dest, stored);
    }
}

void writeStepsCsv(LineReader& in, Out& dest, Out& console, Progress& progress)
{
    TextDumpSource source(in);
    writeStepsCsv(source, dest, console, progress);
}

} // namespace vornlog
