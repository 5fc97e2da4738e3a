// no-reply: a PC message that got no reply before the PC's next message
// (a Reset, which the controller does not answer, aside).
#pragma once

#include "analysis/detectors/detector.h"

namespace vornlog::findings {

class NoReply {
public:
    explicit NoReply(Desk& desk) : desk_(desk) {}

    void message(const Message& in)
    {
        if (in.facts.unanswered) unanswered(*in.facts.unanswered, in.m);
    }

private:
    void unanswered(const RequestPairing::Request& asked, const Moment& m);

    Desk& desk_;
};

} // namespace vornlog::findings
