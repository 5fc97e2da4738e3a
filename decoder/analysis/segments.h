// Which motion segments the controller stored: the one place that decides
// it, for the steps CSV and every other view of the motion.
//
// The PC's last Data message is the pending segment; a controller Data
// reply whose ST says "stored" confirms it, with the buffer fill and the
// segment number of the reply. A confirmation before any Data message
// confirms nothing.
//
// The segments come from the decoding of the Data messages, the one that
// the report renders: dataField says which field is which part of a
// segment, and SegmentSink keeps just those as the decoders read them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "base/bytes.h"
#include "protocol/emit.h"
#include "protocol/instructions.h"
#include "protocol/values.h"

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

    bool endOfData() const { return cmd & kEndOfDataBit; }
    bool hasPwm() const { return cmd & kPwmBit; }
    bool hasAcceleration() const { return cmd & kAccelerationBit; }
};

// A Data message (its segment) or a Data reply (ST, BUF and SEG), as far as
// segments are made of it.
struct DataMessage {
    Segment segment;
    std::uint32_t st = 0;
    int buf = 0;
    std::int32_t seg = 0;

    // The same from the values of a whole decoding.
    static DataMessage of(const FieldValues& values);
};

// Whether field F is a part of a segment or of its confirmation.
template <const Field& F>
inline constexpr bool kDataPart = &F == &kDataCmd || &F == &kDataNbr || &F == &kDataSteps || &F == &kDataPwm ||
                                  &F == &kDataFAcc || &F == &kDataFDec || &F == &kDataNbrDec ||
                                  &F == &kDataStatusSt || &F == &kBuf || &F == &kSeg;

// Puts the value of field F (number `number` of S%d) in its place.
template <const Field& F>
inline void dataField(DataMessage& d, int number, std::uint32_t value)
{
    const auto signedValue = static_cast<std::int32_t>(value);
    if constexpr (&F == &kDataCmd)
        d.segment.cmd = value;
    else if constexpr (&F == &kDataNbr)
        d.segment.nbr = signedValue;
    else if constexpr (&F == &kDataSteps) {
        if (number >= F.first && number <= F.last) d.segment.steps[number - F.first] = stepsOf(signedValue);
    } else if constexpr (&F == &kDataPwm)
        d.segment.pwm = static_cast<int>(value);
    else if constexpr (&F == &kDataFAcc)
        d.segment.fAcc = static_cast<int>(value);
    else if constexpr (&F == &kDataFDec)
        d.segment.fDec = static_cast<int>(value);
    else if constexpr (&F == &kDataNbrDec)
        d.segment.nbrDec = signedValue;
    else if constexpr (&F == &kDataStatusSt)
        d.st = value;
    else if constexpr (&F == &kBuf)
        d.buf = static_cast<int>(value);
    else if constexpr (&F == &kSeg)
        d.seg = signedValue;
}

// The decoders' sink for segments: the parts of a Data message or reply,
// put in a DataMessage as the decoder reads them; no text, nothing else.
class SegmentSink {
public:
    const DataMessage& message() const { return message_; }

    void instruction(std::uint8_t, const Instruction*) { message_ = DataMessage{}; }

    template <const Field& F, fmt::Text M, class... A>
    void field(FieldRead read, const A&...)
    {
        if constexpr (F.hasValue()) take<F>(read);
    }
    template <const Field& F>
    void codeField(FieldRead read, const TableText*, int)
    {
        take<F>(read);
    }
    template <const Field& F, fmt::Text E>
    void fieldError(FieldRead read)
    {
        take<F>(read);
    }
    template <const Field& F>
    void valueOnly(FieldRead read)
    {
        take<F>(read);
    }
    void bits(std::span<const BitText>, unsigned) {}
    template <fmt::Text E, class... A>
    void error(const A&...)
    {
    }
    template <fmt::Text T, class... A>
    void line(const A&...)
    {
    }

private:
    template <const Field& F>
    void take(FieldRead read)
    {
        if constexpr (kDataPart<F>) dataField<F>(message_, read.number, read.value);
    }

    DataMessage message_;
};

// Decodes a Data message (from the PC) or a Data reply (from the
// controller) into `sink`, with the decoders of the report.
void decodeData(Direction direction, std::string_view field, SegmentSink& sink);
// The same decoding handed to `values` as well (what the findings read).
void decodeData(Direction direction, std::string_view field, SegmentSink& sink, ValueSink& values);

// A Data message as its data field writes it, enough of it to tell a
// segment sent again: a copy of the text is cheaper than its bytes.
struct DataText {
    static constexpr std::size_t kKept = 256; // a whole capture line
    std::array<char, kKept> text{};
    std::size_t size = 0;

    void keep(std::string_view field);
    bool operator==(const DataText& other) const;
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
    // Reads one Data message or reply. For every reply, `stored.buf` and
    // `stored.seg` get its BUF and SEG; for Stored, `stored.segment` is the
    // confirmed segment with its signs. A second confirmation of the same
    // segment gives the same signs as the first.
    DataEvent feed(Direction direction, const DataMessage& message, StoredSegment& stored);
    // The same in two steps, for a caller that reads the fields itself: a
    // PC Data message writes its segment into the slot that sent() gives
    // (now the pending one), in place; a reply gives its ST, BUF and SEG to
    // reply(). The segment so never passes through a copy made just after
    // its narrow stores, which would wait for them on every Data message.
    Segment& sent()
    {
        pending_.emplace();
        return *pending_;
    }
    DataEvent reply(std::uint32_t st, int buf, std::int32_t seg, StoredSegment& stored);
    // The last Data message the PC sent, if any.
    const std::optional<Segment>& pending() const { return pending_; }

private:
    std::optional<Segment> pending_;
};

} // namespace vornlog::motion
