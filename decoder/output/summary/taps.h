// The parts of the session summary. Each is fed every record of the capture
// with the one decoding of its message (the instruction, the fields' values
// and the kinds of its error texts), keeps fixed tables, and writes its
// section of the page at the end:
//
//   CaptureCounts  records read, messages, lines passed over    "Capture"
//   Replies        PC messages and their replies, reply times   "Messages"
//   ErrorCensus    the error texts the report writes            "Errors"
//   MotionTally    the stream of Data segments, fill, stops     "Motion stream"
//   Timing         the capture's clock and the Data gaps        "Timing"
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "analysis/pairing.h"
#include "analysis/segments.h"
#include "capture/capture.h"
#include "capture/source.h"
#include "base/out.h"
#include "page.h"
#include "protocol/values.h"

namespace vornlog::summary {

// One record as every part sees it.
struct Tapped {
    const CaptureRecord& record;
    // Its message decoded, for a record that holds one.
    const ValueSink& message;
    // Its time, when it has one written as the capture's first time is.
    bool timed = false;
    TimeNs ns = 0;
};

// b - a, held at the ends of the range: a damaged capture file may carry
// any timestamps at all.
std::int64_t elapsed(TimeNs a, TimeNs b);

class CaptureCounts {
public:
    // `kept`: the instructions a source that leaves the others out (-i)
    // gives, empty when it gives every message. The messages left out are
    // counted here, and seen by no other part.
    CaptureCounts(bool textDump, std::string kept) : textDump_(textDump), kept_(std::move(kept)) {}
    // Whether the other parts see record `t` (before its decoding).
    bool add(const Tapped& t);
    void interruptedAfter(std::uint64_t record) { interruptedAfter_ = record; }
    void write(Out& out, std::string_view name, std::string_view format, std::string_view fault) const;
    std::uint64_t messages() const { return messages_; }

private:
    bool textDump_;
    std::string kept_;
    // Reading was interrupted after this line or packet (0: it was not).
    std::uint64_t interruptedAfter_ = 0;
    std::uint64_t records_ = 0;
    std::uint64_t leftOut_ = 0;
    std::uint64_t messages_ = 0;
    std::uint64_t skipped_ = 0;
    std::uint64_t short_ = 0;
    Occurrences shortLookingLikeMessages_;
    std::uint64_t withoutField_ = 0;
};

// Reply times of one instruction. Least and most are exact; the median and
// the 95th percentile come from a fixed histogram in microseconds: exact
// below 32 us, then 32 steps for each doubling. A percentile is the mean of
// the times in its step, so it is exact when they are all equal (as in a
// capture that writes milliseconds) and within 1/32 (3.2 %) otherwise.
class ReplyTimes {
public:
    static constexpr int kSteps = 32;
    static constexpr int kStepBits = 5;
    static constexpr int kLastDoubling = 40; // 2^41 us, some 25 days; longer times share the last step
    static constexpr int kBuckets = kSteps + (kLastDoubling - kStepBits + 1) * kSteps;

    void add(std::int64_t ns);
    std::uint64_t count() const { return count_; }
    std::int64_t least() const { return least_; }
    std::int64_t most() const { return most_; }
    // The time of rank ceil(count * percent / 100), in nanoseconds.
    std::int64_t percentile(unsigned percent) const;

private:
    struct Bucket {
        std::uint64_t count = 0;
        std::uint64_t sum = 0; // microseconds
    };
    static int index(std::uint64_t us);

    std::uint64_t count_ = 0;
    std::int64_t least_ = 0;
    std::int64_t most_ = 0;
    Bucket bucket_[kBuckets]{};
};

// Messages by instruction code and direction, the PC messages without a
// reply, the controller messages that answer nothing, and the reply times.
class Replies {
public:
    explicit Replies(bool textDump) : textDump_(textDump) {}
    void add(const Tapped& t);
    // The end of the capture: the last PC message is settled.
    void finish();
    void write(Out& out) const;
    // The reply times of `code`; null when none had a time.
    const ReplyTimes* times(std::uint8_t code) const { return times_[code].get(); }

private:
    struct CodeCounts {
        std::uint64_t messages[2]{}; // PC, controller
        Occurrences noReply;         // PC messages of this code without a reply
        Occurrences answersNothing;  // controller messages of this code that answer nothing
    };
    void writeOccurrences(Out& out, Occurrences CodeCounts::* what) const;

    bool textDump_;
    RequestPairing pairing_;
    CodeCounts codes_[256];
    // Made for a code when its first reply time comes.
    std::unique_ptr<ReplyTimes> times_[256];
};

// The error texts that the report writes, by instruction, direction and
// kind, with the first place of each.
class ErrorCensus {
public:
    explicit ErrorCensus(bool textDump) : textDump_(textDump) {}
    void add(const Tapped& t);
    void write(Out& out) const;

private:
    struct Count {
        int side = 0;
        std::uint8_t code = 0;
        const ErrorKind* kind = nullptr;
        std::uint64_t count = 0;
        std::uint64_t first = 0;
    };
    static constexpr std::size_t kKinds = 64;

    bool textDump_;
    std::array<Count, kKinds> counts_{};
    std::size_t kinds_ = 0;
    std::uint64_t others_ = 0;
};

// A Data message as its data field writes it, enough of it to tell a
// segment sent again: a copy of the text is cheaper than its bytes.
struct DataText {
    static constexpr std::size_t kKept = 256; // a whole capture line
    std::array<char, kKept> text{};
    std::size_t size = 0;

    void keep(std::string_view field);
    bool operator==(const DataText& other) const;
};

// The stream of motion segments: what was sent, stored, refused and sent
// again, the pulses and the final position, the buffer fill, the Stop
// commands and the stops that the controller reported.
class MotionTally {
public:
    void add(const Tapped& t);
    void write(Out& out) const;

private:
    void data(const Tapped& t);
    void stopState(std::uint8_t state);
    void fill(int buf);
    // The controller refused the last Data message: the next one may send
    // it again.
    void refused()
    {
        refused_ = lastSent_;
        refusedOpen_ = haveSent_;
    }

    motion::StoredSegments segments_;
    std::uint64_t sent_ = 0, stored_ = 0, bufferFull_ = 0, notUsbMode_ = 0, otherStatus_ = 0, storedUnknown_ = 0;
    std::uint64_t resent_ = 0, endSent_ = 0, endStored_ = 0, segmentsStored_ = 0;
    std::int64_t pulses_ = 0;
    std::int64_t position_[5]{};
    DataText lastSent_, refused_;
    bool haveSent_ = false, refusedOpen_ = false;
    std::uint64_t fills_ = 0, fillSum_ = 0;
    int fillLeast_ = 0, fillMost_ = 0;
    std::uint64_t stopCommands_[256]{};
    std::uint8_t stopState_ = 0;
    std::uint64_t stopReasons_[8]{};
};

// The capture's clock: the first time sets the form, and a time written
// another way is none; the start, the end, and the longest gaps between
// one Data message and the next.
class Timing {
public:
    explicit Timing(bool textDump) : textDump_(textDump) {}
    // The time of `record` in the capture's form; false for none.
    bool time(const CaptureRecord& record, TimeNs& ns);
    void add(const Tapped& t);
    void write(Out& out, std::uint64_t messages, const Replies& replies) const;

private:
    struct Gap {
        std::int64_t ns = 0;
        std::uint64_t from = 0;
        std::uint64_t to = 0;
    };
    void gap(const Gap& g);
    std::string stamp(TimeNs ns) const;

    bool textDump_;
    TimeForm form_ = TimeForm::None;
    int fractionDigits_ = 0;
    TimeNs start_ = 0, end_ = 0;
    bool dataTimed_ = false;
    TimeNs lastDataNs_ = 0;
    std::uint64_t lastDataAt_ = 0;
    std::array<Gap, 5> gaps_{};
    std::size_t gapCount_ = 0;
};

} // namespace vornlog::summary
