#include "message_columns.h"

#include <algorithm>
#include <cmath>

#include "analysis/findings.h"
#include "protocol/decode.h"
#include "protocol/instructions.h"
#include "protocol/lines.h"

namespace vornlog {

void MessageColumns::reserve(std::size_t messages)
{
    for (auto* v : {&number, &time}) v->reserve(messages);
    for (auto* v : {&from, &code, &marks, &cause}) v->reserve(messages);
    partner.reserve(messages);
    delay.reserve(messages);
    buffer.reserve(messages);
    segment.reserve(messages);
}

void MessageColumns::dropMessagesBefore(std::size_t message)
{
    if (message <= base) return;
    const std::size_t n = std::min(message - base, number.size());
    const auto front = [n](auto& v) { v.erase(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n)); };
    front(number);
    front(time);
    front(from);
    front(code);
    front(marks);
    front(cause);
    front(partner);
    front(delay);
    front(buffer);
    front(segment);
    base += n;
}

void MessageColumns::dropBefore(std::size_t message)
{
    dropMessagesBefore(message);
    // (The rows taken come before those held.)
    while (!takenRowMessages.empty() && takenRowMessages.front() >= 0 &&
           static_cast<std::size_t>(takenRowMessages.front()) < message) {
        takenRowMessages.pop_front();
        ++takenFrom;
    }
    if (!takenRowMessages.empty()) return;
    std::size_t rows = 0;
    while (rows < rowMessage.size() && rowMessage[rows] >= 0 && static_cast<std::size_t>(rowMessage[rows]) < message)
        ++rows;
    dropRows(rows);
}

void MessageColumns::dropTakenRowsBefore(std::size_t row)
{
    if (row <= rowBase) return;
    const std::size_t rows = std::min(row - rowBase, rowMessage.size());
    if (takenRowMessages.empty()) takenFrom = rowBase;
    takenRowMessages.insert(takenRowMessages.end(), rowMessage.begin(), rowMessage.begin() + static_cast<std::ptrdiff_t>(rows));
    dropRows(rows);
}

void MessageColumns::dropRows(std::size_t rows)
{
    const auto rowFront = [rows](auto& v, std::size_t per) {
        v.erase(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(rows * per));
    };
    rowFront(rowMessage, 1);
    rowFront(rowSteps, kRowStepsPerRow);
    rowFront(rowPwm, 1);
    rowFront(rowSeg, 1);
    rowFront(rowEnd, 1);
    rowFront(rowStart, 1);
    rowFront(rowFinish, 1);
    rowFront(rowStood, 1);
    rowBase += rows;
}

std::string_view columnTypeName(ColumnType type)
{
    switch (type) {
    case ColumnType::U8: return "u8";
    case ColumnType::I8: return "i8";
    case ColumnType::I32: return "i32";
    case ColumnType::F32: return "f32";
    case ColumnType::F64: return "f64";
    }
    return "";
}

void MessageColumnsMaker::add(const CaptureRecord& record)
{
    MessageColumns& c = out_;
    const std::size_t index = c.base + c.number.size();
    const std::size_t at = index - c.base;
    const std::uint8_t code = instructionCode(record.field);
    const bool pc = record.direction == Direction::Pc;
    c.number.push_back(static_cast<double>(record.number));
    if (record.hasTime && !firstTime_) firstTime_ = record.timeNs;
    c.time.push_back(record.hasTime ? static_cast<double>(record.timeNs - *firstTime_) / 1e9 : NAN);
    c.from.push_back(pc ? 0 : 1);
    c.code.push_back(code);
    c.marks.push_back(0);
    c.cause.push_back(kNoCause);
    c.partner.push_back(-1);
    c.delay.push_back(NAN);
    c.buffer.push_back(-1);
    c.segment.push_back(-1);
    decodeMessage(record.direction, record.field, values_);
    if (!values_.errors().empty()) c.marks[at] |= kMarkErrors;
    if (pc && code == motion::kStopCode && values_.has<motion::kStopCmd>() &&
        motion::stopsMotion(values_.value<motion::kStopCmd>()))
        c.marks[at] |= kMarkStop;

    if (pc) {
        const RequestPairing::Request request{code, index, record.hasTime, record.timeNs};
        if (const auto unanswered = pairing_.request(request); unanswered && unanswered->at >= c.base)
            c.marks[unanswered->at - c.base] |= kMarkNoReply;
    } else if (const auto answered = pairing_.reply(code)) {
        c.partner[at] = static_cast<std::int32_t>(answered->at);
        if (answered->at >= c.base) c.partner[answered->at - c.base] = static_cast<std::int32_t>(index);
        if (answered->timed && record.hasTime) c.delay[at] = static_cast<double>(record.timeNs - answered->ns) / 1e6;
    }

    motion::DataEvent event = motion::DataEvent::None;
    motion::StoredSegment stored;
    if (code == motion::kDataCode) {
        if (pc) lastData_ = static_cast<std::int32_t>(index);
        motion::decodeData(record.direction, record.field, sink_);
        event = segments_.feed(record.direction, sink_.message(), stored);
    }
    // The refusals that the findings group by cause, each marked.
    if (!pc) {
        if (const auto refused = findings::refusalOf(values_, event)) {
            c.marks[at] |= kMarkRefused;
            c.cause[at] = static_cast<std::uint8_t>(*refused);
        }
    }
    if (code != motion::kDataCode) return;
    if (!pc) {
        c.buffer[at] = static_cast<std::int8_t>(motion::bufferPercent(stored.buf));
        c.segment[at] = stored.seg;
    }
    if (event == motion::DataEvent::BufferFull) c.marks[at] |= kMarkRefusal;
    if (event == motion::DataEvent::NotUsbMode || event == motion::DataEvent::OtherStatus)
        c.marks[at] |= kMarkOtherStatus;
    if (event == motion::DataEvent::Stored) {
        const motion::Segment& s = stored.segment;
        c.rowMessage.push_back(lastData_);
        c.rowEnd.push_back(s.endOfData() ? 1 : 0);
        for (std::size_t axis = 0; axis < kRowStepsPerRow; ++axis) c.rowSteps.push_back(s.endOfData() ? 0 : s.steps[axis]);
        c.rowPwm.push_back(s.hasPwm() ? s.pwm : -1);
        c.rowSeg.push_back(stored.seg);
        c.rowStart.push_back(NAN);
        c.rowFinish.push_back(NAN);
        c.rowStood.push_back(record.hasTime ? 0 : NAN);
    }
}

void MessageColumnsMaker::execution(const motion::Execution& e)
{
    MessageColumns& c = out_;
    c.rowsExecuted = std::max(c.rowsExecuted, static_cast<std::size_t>(e.segment));
    if (e.segment <= c.rowBase || e.segment > c.rowBase + c.rowStart.size() || !e.timed || !firstTime_) return;
    const std::size_t row = e.segment - 1;
    c.rowStart[row - c.rowBase] = static_cast<double>(e.start - *firstTime_) / 1e9;
    c.rowFinish[row - c.rowBase] = static_cast<double>(e.end - *firstTime_) / 1e9;
    c.rowsChangedFrom = std::min(c.rowsChangedFrom, row);
}

void MessageColumnsMaker::standStill(const motion::StandStill& s)
{
    MessageColumns& c = out_;
    if (s.segment <= c.rowBase || s.segment > c.rowBase + c.rowStood.size() || !s.timed) return;
    const std::size_t row = s.segment - 1;
    c.rowStood[row - c.rowBase] = static_cast<double>(s.resumed - s.dry) / 1e9;
    c.rowsChangedFrom = std::min(c.rowsChangedFrom, row);
}

void MessageColumnsMaker::finish()
{
    if (const auto unanswered = pairing_.finish(); unanswered && unanswered->at >= out_.base)
        out_.marks[unanswered->at - out_.base] |= kMarkNoReply;
}

} // namespace vornlog
