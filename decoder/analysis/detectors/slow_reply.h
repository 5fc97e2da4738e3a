// slow-reply: a reply far slower than its instruction's median so far.
// The reply times it keeps per instruction are the summary's too.
#pragma once

#include <memory>

#include "analysis/detectors/detector.h"

namespace vornlog::findings {

class SlowReply {
public:
    explicit SlowReply(Desk& desk) : desk_(desk) {}

    void message(const Message& in)
    {
        if (!in.pc && in.facts.answered && in.facts.answered->timed && in.m.timed && in.v.instruction())
            reply(in.v.code(), *in.facts.answered, in.m);
    }

    // How long the controller took to answer each message of instruction
    // `code`; null when none was timed.
    const TimeHistogram* replyTimes(std::uint8_t code) const { return of_[code].get(); }

private:
    void reply(std::uint8_t code, const RequestPairing::Request& asked, const Moment& m);

    Desk& desk_;
    std::unique_ptr<TimeHistogram> of_[256];
};

} // namespace vornlog::findings
