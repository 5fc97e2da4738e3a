// What the analyses read of a message beyond its fields, worked out once
// for all of them: which PC message a controller message answers and which
// one got no reply (RequestPairing), and what a Data message did to the
// controller's buffer (StoredSegments). The findings engine works them out
// for every message it is fed; the summary reads them from there.
#pragma once

#include <optional>

#include "analysis/pairing.h"
#include "analysis/segments.h"
#include "capture/source.h"
#include "protocol/values.h"

namespace vornlog {

struct MessageFacts {
    // A controller message: the PC message it answers.
    std::optional<RequestPairing::Request> answered;
    // A PC message: the one before it, which got no reply.
    std::optional<RequestPairing::Request> unanswered;
    // A Data message or reply: its segment (CMD, NBR, steps), ST, BUF and
    // SEG, and what it did (a reply that stored gives the segment stored,
    // with its signs).
    motion::DataMessage data;
    motion::DataEvent event = motion::DataEvent::None;
    motion::StoredSegment stored;
    // A Data message: its text, and that of the Data message before it.
    const motion::DataText* sent = nullptr;
    const motion::DataText* sentBefore = nullptr;

    // A Data message that sends the same text as the one before it (a
    // segment sent again after a refusal); compared only when asked.
    bool repeatsLastSent() const { return sent && *sent == *sentBefore; }
};

class MessageFactsMaker {
public:
    // A record that holds a message, with its decoding; valid until the
    // next.
    const MessageFacts& add(const CaptureRecord& record, const FieldValues& values)
    {
        facts_.answered.reset();
        facts_.unanswered.reset();
        facts_.event = motion::DataEvent::None;
        facts_.sent = facts_.sentBefore = nullptr;
        const std::uint8_t code = values.code();
        if (record.direction == Direction::Pc)
            facts_.unanswered = pairing_.request({code, record.number, record.hasTime, record.timeNs});
        else
            facts_.answered = pairing_.reply(code);
        if (code == motion::kDataCode) {
            facts_.stored = {};
            segmentOf(record.direction, values, facts_.data);
            facts_.event = segments_.feed(record.direction, facts_.data, facts_.stored);
            if (record.direction == Direction::Pc) {
                // The two texts take turns: this one, and the one before.
                lastSent_ ^= 1;
                sentTexts_[lastSent_].keep(record.field);
                facts_.sent = &sentTexts_[lastSent_];
                facts_.sentBefore = &sentTexts_[lastSent_ ^ 1];
            }
        }
        return facts_;
    }
    const MessageFacts& facts() const { return facts_; }
    // The end of the capture: the PC message that still waits got no reply.
    std::optional<RequestPairing::Request> finish() { return pairing_.finish(); }

private:
    // What the stored segments are made of: CMD, NBR and the steps of a
    // Data message, ST, BUF and SEG of a reply (no PWM, no ramps: no
    // analysis reads them). Each direction carries only its own. Written in
    // place, field by field: a copy of the whole, made of narrow stores
    // read back wide, stalls the processor on every Data message.
    static void segmentOf(Direction direction, const FieldValues& v, motion::DataMessage& d)
    {
        d = {};
        if (direction != Direction::Pc) {
            d.st = v.value<motion::kDataStatusSt>();
            d.buf = static_cast<int>(v.value<motion::kBuf>());
            d.seg = v.signedValue<motion::kSeg>();
            return;
        }
        d.segment.cmd = v.value<motion::kDataCmd>();
        d.segment.nbr = v.signedValue<motion::kDataNbr>();
        for (int n = motion::kDataSteps.first; n <= motion::kDataSteps.last; ++n)
            d.segment.steps[n - motion::kDataSteps.first] = motion::stepsOf(v.signedValue<motion::kDataSteps>(n));
    }

    RequestPairing pairing_;
    motion::StoredSegments segments_;
    motion::DataText sentTexts_[2];
    unsigned lastSent_ = 0;
    MessageFacts facts_;
};

} // namespace vornlog
