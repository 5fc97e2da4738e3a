// "Motion stream": the Data segments sent, stored and refused, where the
// axes ended, how full the buffer was, and the stops.
#include <algorithm>

#include "protocol/instructions.h"
#include "taps.h"

namespace vornlog::summary {

namespace {

// The stop state bits counted: those that give a reason for a stop, and
// the end of the data.
constexpr unsigned kCountedStopBits = motion::kStopReasonBits | motion::kEndOfDataProcessed;

} // namespace

void MotionTally::add(const Tapped& t)
{
    if (!t.record.isMessage) return;
    const FieldValues& m = t.message;
    const bool pc = t.record.direction == Direction::Pc;
    switch (m.code()) {
    case motion::kStopCode:
        if (pc)
            ++stopCommands_[m.value<motion::kStopCmd>() & 0xFF];
        else
            stopState(static_cast<std::uint8_t>(m.value<motion::kStopRet>()));
        return;
    case motion::kInformationCode:
        if (pc) return;
        fill(static_cast<int>(m.value<motion::kBuf>()));
        stopState(static_cast<std::uint8_t>(m.value<motion::kStop>()));
        return;
    case motion::kDataCode: data(t); return;
    default: return;
    }
}

void MotionTally::data(const Tapped& t)
{
    const motion::StoredSegment& stored = t.facts->stored;
    switch (t.facts->event) {
    case motion::DataEvent::Sent:
        ++sent_;
        // The segment refused is the last one sent before this one.
        if (refusedOpen_ && t.facts->repeatsLastSent()) ++resent_;
        refusedOpen_ = false;
        haveSent_ = true;
        if (t.facts->segment->endOfData()) ++endSent_;
        return;
    case motion::DataEvent::Stored:
        ++stored_;
        if (stored.segment.endOfData()) {
            ++endStored_;
        } else {
            ++segmentsStored_;
            pulses_ += stored.segment.nbr;
            for (int axis = 0; axis < 5; ++axis) position_[axis] += stored.segment.steps[axis];
        }
        break;
    case motion::DataEvent::StoredUnknown: ++storedUnknown_; break;
    case motion::DataEvent::BufferFull:
        ++bufferFull_;
        refused();
        break;
    case motion::DataEvent::NotUsbMode:
        ++notUsbMode_;
        refused();
        break;
    case motion::DataEvent::OtherStatus: ++otherStatus_; break;
    case motion::DataEvent::None: return;
    }
    fill(stored.buf);
    stopState(static_cast<std::uint8_t>(t.message.value<motion::kStop>()));
}

void MotionTally::fill(int buf)
{
    if (fills_ == 0 || buf < fillLeast_) fillLeast_ = buf;
    if (fills_ == 0 || buf > fillMost_) fillMost_ = buf;
    ++fills_;
    fillSum_ += static_cast<std::uint64_t>(buf);
}

// A stop reason is counted when its bit turns to 1, so that a stop that
// every later status block still reports counts once.
void MotionTally::stopState(std::uint8_t state)
{
    const unsigned rising = state & ~stopState_;
    for (int bit = 0; bit < 8; ++bit)
        if (rising & kCountedStopBits & (1u << bit)) ++stopReasons_[bit];
    stopState_ = state;
}

void MotionTally::write(Out& out, const findings::Position& where) const
{
    heading(out, "Motion stream");
    auto count = [&](std::string_view label, std::uint64_t v, std::string_view note = {}) {
        countLine(out, label, static_cast<std::int64_t>(v), note);
    };
    count("Data messages sent", sent_);
    count("  end-of-data marks among them", endSent_);
    count("Data replies: stored", stored_);
    count("  buffer full, not stored", bufferFull_);
    count("  not in USB mode", notUsbMode_);
    count("  another status", otherStatus_);
    count("Stored before any Data message", storedUnknown_);
    count("Segments resent after a refusal", resent_);
    count("Segments stored", segmentsStored_);
    count("End-of-data marks stored", endStored_);
    countLine(out, "Total pulses of the stored segments", pulses_);
    Row row;
    row.text("  ").left("Final position in steps", kLabel);
    for (int axis = 0; axis < 5; ++axis) {
        if (axis) row.text("  ");
        row.text("S").text(number(axis + 1)).text(" ").text(number(position_[axis]));
    }
    row.put(out);
    // Where the tool got to: the last status block's segments still
    // waiting, and the part of the one under way not done, are left out.
    Row reached;
    reached.text("  ").left("Position reached, estimated", kLabel);
    if (!where.known) reached.text("no status block");
    for (int axis = 0; axis < 5 && where.known; ++axis) {
        if (axis) reached.text("  ");
        reached.text("S").text(number(axis + 1)).text(" ").text(number(where.reached[static_cast<std::size_t>(axis)]));
    }
    reached.put(out);

    if (fills_ == 0) {
        textLine(out, "Buffer fill (BUF of the replies)", "no Data or Information reply");
    } else {
        const double mean = static_cast<double>(fillSum_) / static_cast<double>(fills_);
        textLine(out, "Buffer fill (BUF of the replies)",
                 "least " + number(fillLeast_) + " (" + number(motion::bufferPercent(fillLeast_)) + "%), mean " +
                     oneDecimal(mean) + " (" + oneDecimal(mean * 100 / motion::kBufferSegments) + "%), most " + number(fillMost_) +
                     " (" + number(motion::bufferPercent(fillMost_)) + "%), in " +
                     number(static_cast<std::int64_t>(fills_)) + " replies");
    }

    // The lines under a count: how many, then what.
    auto item = [&](std::string_view what, std::uint64_t v) {
        Row().text("  ").right(static_cast<std::int64_t>(v), kItem).text("  ").text(what).put(out);
    };
    std::uint64_t stops = 0;
    for (std::uint64_t n : stopCommands_) stops += n;
    count("Stop messages", stops);
    for (int cmd = 0; cmd < 256; ++cmd) {
        if (!stopCommands_[cmd]) continue;
        const TableText* text = lookup(motion::kStopCommands, cmd);
        item(text ? std::string(text->view())
                  : "CMD=" + codeCell(static_cast<std::uint8_t>(cmd)).substr(0, 4) + ", no command",
             stopCommands_[cmd]);
    }
    std::uint64_t reasons = 0;
    for (std::uint64_t n : stopReasons_) reasons += n;
    count("Stops reported by the controller", reasons, "(each counted when its bit turns to 1)");
    for (const BitText& bit : motion::kStopStateBits)
        if (stopReasons_[bit.bit]) item(bit.set.view(), stopReasons_[bit.bit]);
}

} // namespace vornlog::summary
