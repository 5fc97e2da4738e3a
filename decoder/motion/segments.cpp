#include "segments.h"

#include "motion.h"

namespace vornlog::motion {

namespace {

constexpr std::uint8_t kData = 0x44;

Segment readSegment(Bytes& bytes)
{
    Segment s;
    s.cmd = bytes.u8();
    s.nbr = bytes.value(4);
    for (std::int32_t& axis : s.steps) axis = bytes.value(4) / 2;
    if (s.cmd & kPwmBit) s.pwm = bytes.u8();
    if (s.cmd & kAccelerationBit) {
        s.fAcc = bytes.u8();
        s.fDec = bytes.u8();
        s.nbrDec = bytes.value(4);
    }
    return s;
}

} // namespace

bool Segment::endOfData() const { return cmd & kEndOfDataBit; }
bool Segment::hasPwm() const { return cmd & kPwmBit; }
bool Segment::hasAcceleration() const { return cmd & kAccelerationBit; }

DataEvent StoredSegments::feed(Direction direction, Bytes bytes, StoredSegment& stored)
{
    if (bytes.u8() != kData) return DataEvent::None;
    if (direction == Direction::Pc) {
        pending_ = readSegment(bytes);
        return DataEvent::Sent;
    }
    const std::uint8_t st = bytes.u8();
    stored.buf = bytes.u8();
    stored.seg = bytes.value(3);
    switch (st) {
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

} // namespace vornlog::motion
