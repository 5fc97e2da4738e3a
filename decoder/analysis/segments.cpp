#include "segments.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "protocol/both_sinks.h"
#include "protocol/decode.h"
#include "protocol/instructions.h"

namespace vornlog::motion {

namespace {

template <const Field& F>
void fromValues(DataMessage& d, const FieldValues& values)
{
    if constexpr (kDataPart<F>)
        for (int number = F.first; number <= F.last; ++number)
            if (values.has<F>(number)) dataField<F>(d, number, values.value<F>(number));
}

template <const Layout& L, std::size_t... I>
void fromValues(DataMessage& d, const FieldValues& values, std::index_sequence<I...>)
{
    (fromValues<*L.fieldList[I]>(d, values), ...);
}

} // namespace

void DataText::keep(std::string_view field)
{
    while (!field.empty() && (field.back() == '\n' || field.back() == '\r')) field.remove_suffix(1);
    size = field.size();
    // In pieces of 16 bytes, the last one ending at the text's end (over
    // the one before it): a string instruction's start-up, which the
    // compiler makes of a copy of any length, costs more than this whole
    // copy of a line's hundred bytes.
    const std::size_t n = std::min(size, kKept);
    const char* from = field.data();
    char* to = text.data();
    if (n >= 16) {
        for (std::size_t at = 0; at + 16 < n; at += 16) std::memcpy(to + at, from + at, 16);
        std::memcpy(to + n - 16, from + n - 16, 16);
    } else if (n >= 8) {
        std::memcpy(to, from, 8);
        std::memcpy(to + n - 8, from + n - 8, 8);
    } else {
        for (std::size_t at = 0; at < n; ++at) to[at] = from[at];
    }
}

bool DataText::operator==(const DataText& other) const
{
    return size == other.size && std::equal(text.begin(), text.begin() + std::min(size, kKept), other.text.begin());
}

DataMessage DataMessage::of(const FieldValues& values)
{
    DataMessage d;
    fromValues<kDataPc>(d, values, std::make_index_sequence<kDataPc.fieldCount>());
    fromValues<kDataReply>(d, values, std::make_index_sequence<kDataReply.fieldCount>());
    return d;
}

DataEvent StoredSegments::feed(Direction direction, const DataMessage& message, StoredSegment& stored)
{
    if (direction == Direction::Pc) {
        pending_ = message.segment;
        return DataEvent::Sent;
    }
    return reply(message.st, message.buf, message.seg, stored);
}

DataEvent StoredSegments::reply(std::uint32_t st, int buf, std::int32_t seg, StoredSegment& stored)
{
    stored.buf = buf;
    stored.seg = seg;
    switch (st) {
    case kStored: break;
    case kBufferFull: return DataEvent::BufferFull;
    case kNotUsbMode: return DataEvent::NotUsbMode;
    default: return DataEvent::OtherStatus;
    }
    if (!pending_) return DataEvent::StoredUnknown;
    stored.segment = *pending_;
    if (!stored.segment.endOfData())
        for (int n = 0; n < 5; ++n) {
            // An axis whose direction bit is 0 runs in reverse: its steps
            // negated (x ^ -1) + 1, or kept (x ^ 0) - 0, without a branch.
            const std::int32_t reverse = static_cast<std::int32_t>((stored.segment.cmd >> n) & 1u) - 1;
            stored.segment.steps[n] = (stored.segment.steps[n] ^ reverse) - reverse;
        }
    return DataEvent::Stored;
}

[[gnu::flatten]] void decodeData(Direction direction, std::string_view field, SegmentSink& sink)
{
    Message<SegmentSink> m(field, sink);
    sink.instruction(m.code, findInstruction(m.code));
    if (direction == Direction::Pc)
        runLayout<kDataPc>(m);
    else
        runLayout<kDataReply>(m);
}

[[gnu::flatten]] void decodeData(Direction direction, std::string_view field, SegmentSink& sink, ValueSink& values)
{
    BothSinks both(sink, values);
    Message<BothSinks<SegmentSink, ValueSink>> m(field, both);
    both.instruction(m.code, findInstruction(m.code));
    if (direction == Direction::Pc)
        runLayout<kDataPc>(m);
    else
        runLayout<kDataReply>(m);
}

} // namespace vornlog::motion
