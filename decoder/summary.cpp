#include "summary.h"

#include <memory>

#include "progress.h"
#include "report.h"
#include "summary/taps.h"

namespace vornlog {

namespace {

// The parts of the summary, fed one record after the other.
struct Summary {
    explicit Summary(bool textDump)
        : capture(textDump), replies(textDump), errors(textDump), timing(textDump)
    {
    }

    void feed(const CaptureRecord& record)
    {
        // Every message is decoded once, into its values and error kinds.
        if (record.isMessage) decodeMessage(record.direction, record.field, message);
        summary::Tapped t{record, message};
        t.timed = timing.time(record, t.ns);
        capture.add(t);
        replies.add(t);
        errors.add(t);
        motion.add(t);
        timing.add(t);
    }

    void write(Out& out, std::string_view name, std::string_view format, std::string_view fault)
    {
        replies.finish();
        summary::Row().text("Vornlog session summary").put(out);
        summary::Row().text("=======================").put(out);
        capture.write(out, name, format, fault);
        replies.write(out);
        errors.write(out);
        motion.write(out);
        timing.write(out, capture.messages(), replies);
    }

    ValueSink message;
    summary::CaptureCounts capture;
    summary::Replies replies;
    summary::ErrorCensus errors;
    summary::MotionTally motion;
    summary::Timing timing;
};

} // namespace

void writeSummary(MessageSource& in, std::string_view captureName, Out& dest, Progress& progress)
{
    // Fixed tables of some 100 KiB: on the heap, not the stack.
    auto summary = std::make_unique<Summary>(in.format() == "text dump");
    in.readTimes();
    CaptureRecord record;
    while (in.next(record)) {
        progress.count();
        summary->feed(record);
    }
    summary->write(dest, captureName, in.format(), in.fault());
}

} // namespace vornlog
