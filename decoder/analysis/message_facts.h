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
    // A Data message or reply: what it did (a reply gives its BUF and SEG;
    // one that stored, the segment stored, with its signs).
    motion::DataEvent event = motion::DataEvent::None;
    motion::StoredSegment stored;
    // A PC Data message: its segment (CMD, NBR, steps), the pending one.
    const motion::Segment* segment = nullptr;
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
        facts_.event = motion::DataEvent::None;
        facts_.sent = facts_.sentBefore = nullptr;
        facts_.segment = nullptr;
        const std::uint8_t code = values.code();
        if (record.direction == Direction::Pc) {
            facts_.answered.reset();
            pairing_.request(code, record.number, record.hasTime, record.timeNs, facts_.unanswered);
        } else {
            facts_.unanswered.reset();
            pairing_.reply(code, facts_.answered);
        }
        if (code == motion::kDataCode) {
            facts_.stored = {};
            if (record.direction == Direction::Pc) {
                motion::Segment& segment = segments_.sent();
                sentSegment(values, segment);
                facts_.segment = &segment;
                facts_.event = motion::DataEvent::Sent;
                // The two texts take turns: this one, and the one before.
                lastSent_ ^= 1;
                sentTexts_[lastSent_].keep(record.field);
                facts_.sent = &sentTexts_[lastSent_];
                facts_.sentBefore = &sentTexts_[lastSent_ ^ 1];
            } else {
                facts_.event = segments_.reply(values.value<motion::kDataStatusSt>(),
                                               static_cast<int>(values.value<motion::kBuf>()),
                                               values.signedValue<motion::kSeg>(), facts_.stored);
            }
        }
        return facts_;
    }
    const MessageFacts& facts() const { return facts_; }
    // The end of the capture: the PC message that still waits got no reply.
    std::optional<RequestPairing::Request> finish() { return pairing_.finish(); }

private:
    // What a segment is made of for the analyses: CMD, NBR and the steps
    // (no PWM, no ramps: no analysis reads them), written in place, field
    // by field, into the pending slot.
    static void sentSegment(const FieldValues& v, motion::Segment& s)
    {
        s.cmd = v.value<motion::kDataCmd>();
        s.nbr = v.signedValue<motion::kDataNbr>();
        for (int n = motion::kDataSteps.first; n <= motion::kDataSteps.last; ++n)
            s.steps[n - motion::kDataSteps.first] = motion::stepsOf(v.signedValue<motion::kDataSteps>(n));
    }

    RequestPairing pairing_;
    motion::StoredSegments segments_;
    motion::DataText sentTexts_[2];
    unsigned lastSent_ = 0;
    MessageFacts facts_;
};

} // namespace vornlog
