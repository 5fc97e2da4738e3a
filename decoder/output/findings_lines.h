// The findings as JSON Lines (-e): one object for each finding, written
// when it is complete, in that order:
//
//   {"id":1,"kind":"underrun","cause":"host-gap","start":12.345,"end":12.555,
//    "ongoing":false,"first":120,"last":131,"count":1,"text":"The buffer ran dry ..."}
//
// A stop adds "position" and "stored_unreached" ({"S1":..,...,"S5":..}).
// Live (-f, -F, a pipe), an underrun or a stop still open 1 s after it began
// is written at once with "ongoing":true, and again with the same id when it
// is complete. docs/vornlog-findings.schema.json describes a line.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "analysis/findings.h"
#include "capture/source.h"
#include "base/out.h"

namespace vornlog {

class Progress;
class FindingPages;

// Writes one finding's JSON line.
void putFindingJson(Out& out, const findings::Finding& f);

// The findings of a run, whatever its mode: the records of another source
// passed on unchanged, each fed to the findings engine on the way. The
// findings are written as JSON Lines to `dest` when there is one (-e), and
// remembered by kind (--fail-on). It sits below -i, so that the findings are
// made from every message; it reads the capture's times.
//
// Each message is decoded once: a reader above that decodes the record it
// was given asks valuesFor() and decodes into both its own sink and the
// tap's values; the tap feeds the engine with them before it reads the next
// record (or waits, or finishes). A message no reader decoded (a short line
// that the report passes over, one that -i leaves out, every message of -e)
// the tap decodes itself then.
class FindingsTap final : public ForwardingSource {
public:
    using Clock = std::chrono::steady_clock;

    // `clock`, for a live capture (-f, -F, a pipe): the wall clock, read
    // when a message comes, so that idle() can tell how long ago that was.
    // Null otherwise: nothing waits for time to pass.
    // `pages` (--keep): given every record and finding, and the clock; an
    // underrun or a stop open for a second is then told at once as ongoing,
    // as live, whatever the capture.
    // `readerDecodes`: false when nothing above decodes a message (-e,
    // the findings of -w): the tap then decodes each as it reads it.
    FindingsTap(MessageSource& in, Out* dest, std::function<Clock::time_point()> clock = nullptr,
                FindingPages* pages = nullptr, bool readerDecodes = true);
    bool next(CaptureRecord& record) override;
    // The tap's values for the message it gave last, which the caller then
    // decodes into; null for any other record.
    ValueSink* valuesFor(const CaptureRecord& record) override;
    // The reading waits for more of a live capture, at `now`: what waited
    // for the capture's clock to pass is written (the clock is taken to run
    // on from the last message's time as the wall clock does).
    void idle(Clock::time_point now);
    // The end of the capture (also when the reading ended early): what is
    // still open or waiting is written. Once.
    void finish();
    // A bit for each kind (1 << Kind) of which a finding was made.
    unsigned kinds() const { return kinds_; }
    // How many messages the tap decoded itself, that no reader above it
    // decoded for it.
    std::uint64_t decodedHere() const { return decodedHere_; }

private:
    // The message given last is fed to the engine: decoded here unless a
    // reader decoded it into message_.
    void settle();

    ValueSink message_;
    // The message given last, not yet fed; its views hold until the next
    // record is read.
    CaptureRecord given_;
    bool waiting_ = false;
    bool filled_ = false;
    std::uint64_t decodedHere_ = 0;
    Out* dest_;
    FindingPages* pages_;
    std::function<Clock::time_point()> clock_;
    bool readerDecodes_;
    bool finished_ = false;
    unsigned kinds_ = 0;
    findings::Engine engine_;
    Clock::time_point lastSeen_{};
};

// -e: reads every record of `in` (a FindingsTap writes the findings),
// counting each on the console.
void readAll(MessageSource& in, Progress& progress);

} // namespace vornlog
