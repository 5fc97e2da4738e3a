#include "summary.h"

#include <memory>
#include <string>
#include <utility>

#include "output/summary/taps.h"
#include "output/progress.h"
#include "protocol/decode.h"
#include "protocol/instructions.h"

namespace vornlog {

// The parts of the summary, fed one record after the other.
struct SessionSummary::Parts {
    Parts(bool textDump, std::string kept, findings::Engine* owners)
        : filtered(!kept.empty()), capture(textDump, std::move(kept)), replies(textDump), errors(textDump), timing(textDump),
          findingList(textDump),
          own(owners ? nullptr
                     : std::make_unique<findings::Engine>(textDump, false,
                                                          [this](const findings::Finding& f) { findingList.add(f); })),
          engine(owners ? *owners : *own)
    {
        // Filtered, the summary pairs the kept messages only, and times
        // their replies itself.
        if (!filtered) replies.readTimesFrom(engine);
    }

    // `shared`: where the findings below the summary take the values of
    // this record's decoding, or null (valuesFor).
    void feed(const CaptureRecord& record, ValueSink* shared)
    {
        // The values of the message decoded last, wherever they were put.
        const ValueSink* decoded = shared ? shared : last;
        summary::Tapped t{record, *decoded};
        t.timed = timing.time(record, t.ns);
        // A message left out (-i) is counted and seen by the findings alone,
        // which are made from every message; every other is decoded once,
        // into its values and error kinds.
        if (!capture.add(t)) {
            if (record.leftOut) engine.feed(record, decode(record, shared));
            return;
        }
        if (record.isMessage) {
            const ValueSink& values = decode(record, shared);
            engine.feed(record, values);
            // The pairing and segments the engine worked out, unless some
            // messages are left out: the parts pair those they see.
            t.facts = filtered ? &keptFacts.add(record, values) : &engine.facts();
        }
        add(t);
    }

    // The record and its message decoded by the caller: fed to the
    // summary's own engine, or already to the owner's.
    void tap(const CaptureRecord& record, const FieldValues& decoded)
    {
        summary::Tapped t{record, decoded};
        t.timed = timing.time(record, t.ns);
        if (!capture.add(t)) {
            if (own && record.leftOut) engine.feed(record, decoded);
            return;
        }
        if (record.isMessage) {
            if (own) engine.feed(record, decoded);
            t.facts = filtered ? &keptFacts.add(record, decoded) : &engine.facts();
        }
        add(t);
    }

    void add(summary::Tapped& t)
    {
        replies.add(t);
        errors.add(t);
        motion.add(t);
        timing.add(t);
    }

    // Decodes the record's message into `shared`, or into the summary's own
    // values.
    const ValueSink& decode(const CaptureRecord& record, ValueSink* shared)
    {
        ValueSink& into = shared ? *shared : message;
        decodeMessage(record.direction, record.field, into);
        last = &into;
        return into;
    }

    void write(Out& out, std::string_view name, std::string_view format, std::string_view fault)
    {
        // (An owner's engine is finished by its owner, which keeps what it
        // said.)
        const auto waited = own ? engine.finish() : ownersWaited;
        replies.finish(filtered ? keptFacts.finish() : waited);
        summary::Row().text("Vornlog session summary").put(out);
        summary::Row().text("=======================").put(out);
        capture.write(out, name, format, fault);
        findingList.write(out);
        replies.write(out);
        errors.write(out);
        motion.write(out, engine.position());
        timing.write(out, capture.messages(), replies);
    }

    // Some messages are left out (-i).
    bool filtered;
    MessageFactsMaker keptFacts;
    ValueSink message;
    const ValueSink* last = &message;
    summary::CaptureCounts capture;
    summary::Replies replies;
    summary::ErrorCensus errors;
    summary::MotionTally motion;
    summary::Timing timing;
    summary::FindingList findingList;
    std::unique_ptr<findings::Engine> own;
    findings::Engine& engine;
    std::optional<RequestPairing::Request> ownersWaited;
};

SessionSummary::SessionSummary(const MessageSource& in)
    : parts_(std::make_unique<Parts>(in.format() == "text dump", in.keptInstructions(), nullptr))
{
}

SessionSummary::SessionSummary(const MessageSource& in, findings::Engine& engine)
    : parts_(std::make_unique<Parts>(in.format() == "text dump", in.keptInstructions(), &engine))
{
}

SessionSummary::~SessionSummary() = default;

void SessionSummary::feed(const CaptureRecord& record, ValueSink* values)
{
    ++fed_;
    parts_->feed(record, values);
}

void SessionSummary::feed(const CaptureRecord& record, const FieldValues& message)
{
    ++fed_;
    parts_->tap(record, message);
}

void SessionSummary::found(const findings::Finding& finding) { parts_->findingList.add(finding); }

void SessionSummary::engineFinished(std::optional<RequestPairing::Request> waiting)
{
    parts_->ownersWaited = waiting;
}

void SessionSummary::write(const MessageSource& in, std::string_view captureName, Out& dest)
{
    if (in.interrupted()) parts_->capture.interruptedAfter(fed_);
    parts_->write(dest, captureName, in.format(), in.fault());
}

void writeSummary(MessageSource& in, std::string_view captureName, Out& dest, Progress& progress)
{
    SessionSummary summary(in);
    in.readTimes();
    CaptureRecord record;
    while (in.next(record)) {
        progress.count();
        // Only a record the summary decodes asks for the findings' values.
        summary.feed(record, record.isMessage || record.leftOut ? in.valuesFor(record) : nullptr);
    }
    summary.write(in, captureName, dest);
}

} // namespace vornlog
