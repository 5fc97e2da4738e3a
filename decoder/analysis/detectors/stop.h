// stop: the controller stopped for a limit switch, the tool sensor, the
// PROG/STOP button or a Stop command, as the STOP bits of its status blocks
// (and of the Stop reply's RET) tell. A stop is open while its bit stays
// set; stops of one reason less than 0.5 s apart make one finding.
#pragma once

#include <iterator>
#include <optional>

#include "analysis/detectors/detector.h"

namespace vornlog::findings {

class Stop {
public:
    explicit Stop(Desk& desk) : desk_(desk) {}

    void message(const Message& in)
    {
        const std::uint8_t code = in.v.code();
        if (in.pc) {
            if (code == motion::kStopCode && in.v.has<motion::kStopCmd>() &&
                motion::stopsMotion(in.v.value<motion::kStopCmd>()))
                stopCommand_ = in.m;
        } else if (code == motion::kDataCode || code == motion::kInformationCode) {
            bits(in.v.value<motion::kStop>(), in);
        } else if (code == motion::kStopCode && in.v.has<motion::kStopRet>()) {
            bits(in.v.value<motion::kStopRet>(), in);
        }
    }
    void live(const Moment& now);
    void finish();

private:
    static constexpr std::size_t kSlots = std::size(motion::kStopReasons);
    // A stop while its bit is set.
    struct Open {
        bool has = false;
        Finding f;
        Moment began;
        bool reportedOngoing = false;
        bool named = false; // a Stop message came before it (a stop by command)
        std::string what;   // a burst it joined: the burst's first sentence
    };

    void bits(unsigned state, const Message& in)
    {
        // Most status blocks neither open nor hold a stop. A stop is open
        // exactly while its bit stays set, so the bits tell without a look
        // at the slots.
        if (!((state | state_) & motion::kStopReasonBits)) {
            state_ = state;
            return;
        }
        changed(state, in);
    }
    void changed(unsigned state, const Message& in);
    // The sentence of a stop's episode, without its full stop.
    std::string text(const Finding& f, bool named, bool complete) const;
    std::string ongoingText(const Open& o, const Finding& f) const;

    Desk& desk_;
    Open open_[kSlots];
    std::optional<Moment> stopCommand_;
    unsigned state_ = 0;
};

} // namespace vornlog::findings
