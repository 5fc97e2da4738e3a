// The session summary (-t): one page of plain text that answers the first
// questions about a capture. Did every PC message get its reply? Which
// error texts would the report write? How did the stream of motion
// segments go? How long did the controller take to answer?
//
// It reads the capture once, decodes every message as the report would
// (into nothing, with an observer of the decoders' error texts) and keeps
// only fixed tables: counts for 256 codes in both directions, a fixed
// histogram of reply times for each code, the first few line numbers of
// what went wrong and the five longest gaps of the Data stream.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "analysis/pairing.h"
#include "capture/source.h"
#include "base/out.h"

namespace vornlog {

class FieldValues;
namespace findings {
class Engine;
struct Finding;
} // namespace findings

class Progress;

// The summary of a capture fed to it one record at a time, in the order the
// capture gives them, then written once. For a caller that reads the
// capture in steps of its own (the viewer); writeSummary is the whole
// pass. Made for the records of `in` before any is read: it takes the
// capture's kind and the instructions `in` keeps (-i).
class SessionSummary {
public:
    explicit SessionSummary(const MessageSource& in);
    // A summary that reads the findings, the pairing and the reply times of
    // its owner's engine (not one of its own; an engine of a capture read at
    // once, not live): the owner feeds that engine each message first, then
    // feed(record, message) with the message's decoding, tells it each
    // finding (found) and finishes the engine before write. For a caller
    // that decodes each message once for all its views.
    SessionSummary(const MessageSource& in, findings::Engine& engine);
    ~SessionSummary();
    SessionSummary(const SessionSummary&) = delete;
    SessionSummary& operator=(const SessionSummary&) = delete;

    // `values`: where the findings below take the values of this record's
    // decoding (MessageSource::valuesFor), so that it is decoded once; null
    // when nothing below reads them.
    void feed(const CaptureRecord& record, ValueSink* values = nullptr);
    // A record and its message's decoding (any values for a record that
    // holds none), made by the caller: fed to the summary's own engine, or
    // (with the owner's engine) already fed to that one.
    void feed(const CaptureRecord& record, const FieldValues& message);
    void found(const findings::Finding& finding);
    // What the owner's engine's finish gave: the PC message still waiting
    // for its reply.
    void engineFinished(std::optional<RequestPairing::Request> waiting);
    // Writes the summary of the records fed, once `in` has given its last:
    // `captureName` is the capture's file name as the user gave it; the
    // summary tells the capture's format and fault, and where reading
    // stopped when it was interrupted.
    void write(const MessageSource& in, std::string_view captureName, Out& dest);

private:
    struct Parts;
    std::unique_ptr<Parts> parts_; // fixed tables of some 100 KiB: on the heap, not the stack
    std::uint64_t fed_ = 0;
};

// Writes the summary of every record of `in` to `dest`, counting each
// record on the console. `captureName` is the capture's file name as the
// user gave it. When `in` leaves some instructions out (-i), only the
// messages of those it keeps are summed up, and the summary names them.
void writeSummary(MessageSource& in, std::string_view captureName, Out& dest, Progress& progress);

} // namespace vornlog
