// Which motion segments the controller stored: the one place that decides
// it, for the steps CSV and every other view of the motion.
//
// The PC's last Data message is the pending segment; a controller Data
// reply whose ST says "stored" confirms it, with the buffer fill and the
// segment number of the reply. A confirmation before any Data message
// confirms nothing.
#pragma once

#include <cstdint>
#include <optional>

#include "../capture.h"

namespace vornlog::motion {

// A segment as the PC's Data message gives it.
struct Segment {
    unsigned cmd = 0;
    std::int32_t nbr = 0;
    // Steps of S1 to S5 (the message's values halved), without sign.
    std::int32_t steps[5]{};
    int pwm = 0;
    int fAcc = 0;
    int fDec = 0;
    std::int32_t nbrDec = 0;

    bool endOfData() const;
    bool hasPwm() const;
    bool hasAcceleration() const;
};

// A segment that the controller confirmed as stored.
struct StoredSegment {
    // The segment with its signs: an axis whose direction bit is 0 moves
    // in reverse, so its steps are negative here.
    Segment segment;
    // BUF and SEG of the confirming reply.
    int buf = 0;
    std::int32_t seg = 0;
};

// What one message is to the stream of motion segments.
enum class DataEvent {
    None,          // not a Data message
    Sent,          // a PC Data message: the new pending segment
    Stored,        // a reply "stored" that confirms the pending segment
    StoredUnknown, // a reply "stored" before any Data message: confirms nothing
    BufferFull,    // a reply "buffer full, data not stored"
    NotUsbMode,    // a reply "not in USB mode"
    OtherStatus,   // a reply with any other ST
};

class StoredSegments {
public:
    // Reads one message (its bytes from the instruction code on). For every
    // Data reply, `stored.buf` and `stored.seg` get its BUF and SEG; for
    // Stored, `stored.segment` is the confirmed segment with its signs. A
    // second confirmation of the same segment gives the same signs as the
    // first.
    DataEvent feed(Direction direction, Bytes bytes, StoredSegment& stored);
    // The last Data message the PC sent, if any.
    const std::optional<Segment>& pending() const { return pending_; }

private:
    std::optional<Segment> pending_;
};

} // namespace vornlog::motion
