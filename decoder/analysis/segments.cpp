#include "segments.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "protocol/instructions.h"
#include "protocol/decode.h"

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
    std::memcpy(text.data(), field.data(), std::min(size, kKept));
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
    stored.buf = message.buf;
    stored.seg = message.seg;
    switch (message.st) {
    case kStored: break;
    case kBufferFull: return DataEvent::BufferFull;
    case kNotUsbMode: return DataEvent::NotUsbMode;
    default: return DataEvent::OtherStatus;
    }
    if (!pending_) return DataEvent::StoredUnknown;
    stored.segment = *pending_;
    if (!stored.segment.endOfData())
        for (int n = 0; n < 5; ++n)
            if (!(stored.segment.cmd & (1u << n))) stored.segment.steps[n] = -stored.segment.steps[n];
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

} // namespace vornlog::motion
