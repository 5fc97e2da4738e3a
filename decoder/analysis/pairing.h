// Which controller message answers which PC message. A PC message waits
// for the controller's next message of its instruction code; the next PC
// message ends the wait, and the one that waited got no reply. A controller
// message of another code, or one that comes when nothing waits, answers
// nothing.
#pragma once

#include <cstdint>
#include <optional>

#include "base/bytes.h"

namespace vornlog {

class RequestPairing {
public:
    // A PC message that waits for its reply.
    struct Request {
        std::uint8_t code = 0;
        // Its record number, and its time when it has one.
        std::uint64_t at = 0;
        bool timed = false;
        TimeNs ns = 0;
    };

    // A PC message: it waits from now on. Returns the one that waited
    // before it, which got no reply.
    std::optional<Request> request(const Request& next)
    {
        std::optional<Request> unanswered;
        request(next.code, next.at, next.timed, next.ns, unanswered);
        return unanswered;
    }
    // The same, the one that waited written into `unanswered` in place: no
    // value is built and then copied whole, which would make the processor
    // wait for its narrow stores on every message.
    void request(std::uint8_t code, std::uint64_t at, bool timed, TimeNs ns, std::optional<Request>& unanswered)
    {
        if (waits_)
            unanswered = waiting_;
        else
            unanswered.reset();
        waits_ = true;
        waiting_.code = code;
        waiting_.at = at;
        waiting_.timed = timed;
        waiting_.ns = ns;
    }

    // A controller message of `code`: the PC message it answers, if any.
    std::optional<Request> reply(std::uint8_t code)
    {
        std::optional<Request> answered;
        reply(code, answered);
        return answered;
    }
    // The same, written into `answered` in place.
    void reply(std::uint8_t code, std::optional<Request>& answered)
    {
        if (waits_ && waiting_.code == code) {
            answered = waiting_;
            waits_ = false;
        } else {
            answered.reset();
        }
    }

    // The end of the capture: the PC message that still waits got no reply.
    std::optional<Request> finish()
    {
        std::optional<Request> unanswered;
        if (waits_) unanswered = waiting_;
        waits_ = false;
        return unanswered;
    }

private:
    // The PC message that waits, when one does (its fields written in
    // place, message after message).
    bool waits_ = false;
    Request waiting_;
};

} // namespace vornlog
