// What the views of a session need of each message, in columns of numbers
// (one entry per message, in capture order): its number, time, sender and
// instruction code; the marks that the timeline shows; a request's reply
// and a reply's request (RequestPairing's rule) and the delay between them;
// the buffer fill and segment of a Data reply.
// Beside them, the segments the controller stored, as the rows of the
// steps CSV, each with the PC Data message that sent it.
//
// The columns are described (name, element type, place, length) so that a
// reader that knows none of them can copy them all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

#include "analysis/motion_model.h"
#include "analysis/pairing.h"
#include "analysis/segments.h"
#include "capture/source.h"
#include "protocol/values.h"

namespace vornlog {

// A message's marks, as bits of its `marks` entry.
enum MessageMark : std::uint8_t {
    kMarkRefusal = 1,     // a Data reply "buffer full, data not stored"
    kMarkNoReply = 2,     // a PC message that got no reply
    kMarkStop = 4,        // a PC Stop message that stops the machine (a fast or slow stop)
    kMarkOtherStatus = 8, // a Data reply that neither stored nor refused
    kMarkErrors = 16,     // a message whose decoding gives errors
    kMarkRefused = 32,    // a reply that refused or failed what was asked, but for "buffer full" (its cause in `cause`)
};

// The marks by name, as the page knows them.
struct MarkName {
    std::string_view name;
    MessageMark bit;
};
inline constexpr MarkName kMarkNames[] = {{"refusal", kMarkRefusal},
                                          {"noReply", kMarkNoReply},
                                          {"stop", kMarkStop},
                                          {"otherStatus", kMarkOtherStatus},
                                          {"errors", kMarkErrors},
                                          {"refused", kMarkRefused}};

// The elements of `rowSteps` per stored segment: its steps of S1, S2 and
// S3, one after the other.
inline constexpr std::size_t kRowStepsPerRow = 3;

// The columns that hold more than one element per entry, and how many.
struct ColumnStride {
    std::string_view name;
    std::size_t per;
};
inline constexpr ColumnStride kColumnStrides[] = {{"rowSteps", kRowStepsPerRow}};

// The `cause` of a message that refused nothing.
inline constexpr std::uint8_t kNoCause = 0xFF;

struct MessageColumns {
    std::vector<double> number;
    std::vector<double> time;       // seconds since the first timed message; NaN without a time
    std::vector<std::uint8_t> from; // 0 PC, 1 controller
    std::vector<std::uint8_t> code;
    std::vector<std::uint8_t> marks;
    std::vector<std::uint8_t> cause; // a refused reply's cause (findings::Cause); kNoCause
    std::vector<std::int32_t> partner; // a reply's request, a request's reply (indices); -1
    std::vector<double> delay;         // ms from its request to this reply; NaN
    std::vector<std::int8_t> buffer;   // percent, Data replies; -1
    std::vector<std::int32_t> segment; // SEG of a Data reply; -1
    // Stored segments, rows of the steps CSV: the PC Data message (its index
    // among the messages), S1, S2 and S3 with their signs, PWM (-1 without),
    // SEG, and 1 for an end-of-data row.
    std::vector<std::int32_t> rowMessage;
    std::vector<std::int32_t> rowSteps; // kRowStepsPerRow per row
    std::vector<std::int32_t> rowPwm;
    std::vector<std::int32_t> rowSeg;
    std::vector<std::uint8_t> rowEnd;
    // What the machine did with each (the motion model): when it started
    // and ended executing it, in seconds as `time` (NaN until known, and
    // for one never reached), and how long the machine stood still before
    // its arrival ended a stand-still (0 when none; NaN without times).
    std::vector<double> rowStart;
    std::vector<double> rowFinish;
    std::vector<double> rowStood;
    // The first row whose model columns changed since the caller last
    // took them (a live page gives them again from there).
    std::size_t rowsChangedFrom = SIZE_MAX;
    // The messages and rows let go from the front (a live session bounded
    // to its newest messages, or messages a reader took already): the
    // columns hold message `base` on and row `rowBase` on; indices (partner, rowMessage, rowsChangedFrom) count
    // from the session's first.
    std::size_t base = 0;
    std::size_t rowBase = 0;
    // The last stored segment the motion model executed (counted from 1).
    std::size_t rowsExecuted = 0;
    // Rows let go while their messages are kept (a reader took them, and
    // the model will not change them): the Data message of each, from row
    // `takenFrom` on, up to rowBase.
    std::deque<std::int32_t> takenRowMessages;
    std::size_t takenFrom = 0;
    // The first row of the messages kept (message `base` on).
    std::size_t keptRowBase() const { return takenRowMessages.empty() ? rowBase : takenFrom; }

    // Room for `messages` messages, taken at once.
    void reserve(std::size_t messages);
    // Lets the messages before `message` go, and the rows of their Data
    // messages.
    void dropBefore(std::size_t message);
    // Lets the messages before `message` go, their rows kept (a reader that
    // took them already, while the motion model may still settle rows).
    void dropMessagesBefore(std::size_t message);
    // Lets the rows before `row` go, their messages kept (a reader that took
    // them already, once the model will not change them).
    void dropTakenRowsBefore(std::size_t row);

private:
    // Lets the first `rows` rows held go.
    void dropRows(std::size_t rows);
};

// A column's elements, as a reader copies them.
enum class ColumnType { U8, I8, I32, F32, F64 };
std::string_view columnTypeName(ColumnType type);

// Calls f(name, type, data, length) for each column, in one order.
template <class F>
void forEachColumn(const MessageColumns& c, F&& f)
{
    f("number", ColumnType::F64, c.number.data(), c.number.size());
    f("time", ColumnType::F64, c.time.data(), c.time.size());
    f("from", ColumnType::U8, c.from.data(), c.from.size());
    f("code", ColumnType::U8, c.code.data(), c.code.size());
    f("marks", ColumnType::U8, c.marks.data(), c.marks.size());
    f("cause", ColumnType::U8, c.cause.data(), c.cause.size());
    f("partner", ColumnType::I32, c.partner.data(), c.partner.size());
    f("delay", ColumnType::F64, c.delay.data(), c.delay.size());
    f("buffer", ColumnType::I8, c.buffer.data(), c.buffer.size());
    f("segment", ColumnType::I32, c.segment.data(), c.segment.size());
    f("rowMessage", ColumnType::I32, c.rowMessage.data(), c.rowMessage.size());
    f("rowSteps", ColumnType::I32, c.rowSteps.data(), c.rowSteps.size());
    f("rowPwm", ColumnType::I32, c.rowPwm.data(), c.rowPwm.size());
    f("rowSeg", ColumnType::I32, c.rowSeg.data(), c.rowSeg.size());
    f("rowEnd", ColumnType::U8, c.rowEnd.data(), c.rowEnd.size());
    f("rowStart", ColumnType::F64, c.rowStart.data(), c.rowStart.size());
    f("rowFinish", ColumnType::F64, c.rowFinish.data(), c.rowFinish.size());
    f("rowStood", ColumnType::F64, c.rowStood.data(), c.rowStood.size());
}

// Fills the columns a message at a time, in capture order.
class MessageColumnsMaker {
public:
    explicit MessageColumnsMaker(MessageColumns& out) : out_(out) {}

    // A record that holds a message.
    void add(const CaptureRecord& record);
    // After the last: the PC message that still waits got no reply.
    void finish();
    // The decoding of the message added last.
    const FieldValues& values() const { return values_; }
    // What the motion model settled of a stored segment, and a stand-still
    // it saw end (segments counted from 1, as the rows).
    void execution(const motion::Execution& e);
    void standStill(const motion::StandStill& s);

private:
    MessageColumns& out_;
    ValueSink values_;
    std::optional<TimeNs> firstTime_;
    RequestPairing pairing_;
    motion::SegmentSink sink_;
    motion::StoredSegments segments_;
    std::int32_t lastData_ = -1;
};

} // namespace vornlog
