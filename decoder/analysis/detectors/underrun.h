// underrun: the controller's buffer ran dry while a job ran and the machine
// stood still until the next segment came, with why: the PC program waited
// after "buffer full" replies, fell silent, the controller answered slowly,
// or the segments ran out faster than a round trip. The stand-stills come
// from the motion model; the why from the drain window, the silences and
// reply delays since the buffer was last full. Stand-stills less than 0.5 s
// apart make one finding, whatever their causes (the first one's is told).
#pragma once

#include <string>
#include <utility>

#include "analysis/detectors/detector.h"

namespace vornlog::findings {

class Underrun {
public:
    explicit Underrun(Desk& desk) : desk_(desk) {}

    void message(const Message& in)
    {
        if (in.pc) {
            if (in.v.code() == motion::kDataCode) dataSent(in.m);
        } else {
            controller(in);
        }
    }
    void motion(const Message& in)
    {
        if (in.model.events().any() || projected_) motionEvents(in.m);
    }
    bool holding() const { return phase_ == Phase::Waiting; }
    const Moment* due(const Moment* now) const
    {
        return phase_ == Phase::Waiting && Desk::isDue(refilled_, now) && (!now || !mayStandAgain(*now)) ? &refilled_
                                                                                                          : nullptr;
    }
    void emitDue() { emitWaiting(); }
    void live(const Moment& now);
    void finish();

private:
    // Open while the buffer is dry, Waiting once it refilled (for a next
    // episode less than 0.5 s away).
    enum class Phase { None, Open, Waiting };
    // Since the buffer was last full (or the job's first motion): the
    // longest silence of the PC program and reply of the controller, and
    // what the segments stored held.
    struct Window {
        std::int64_t silence = 0;
        Moment silenceFrom;
        bool silenceAfterFull = false;
        std::int64_t reply = 0;
        Moment replyTo;
        std::uint8_t replyCode = 0;
        std::int64_t pulses = 0;
        std::uint64_t segments = 0;
    };

    void dataSent(const Moment& m);
    void controller(const Message& in);
    void motionEvents(const Moment& m);
    void standingByProjection(const Moment& now);
    bool mayStandAgain(const Moment& now) const;
    void resetWindow()
    {
        window_ = Window{};
        windowFromJob_ = false;
    }
    std::pair<Cause, std::string> why(const Moment& m);
    void evidence(const motion::StandStill& st, const Moment& m);
    void refill(const motion::StandStill& st, const Moment& m);
    std::int64_t stoodUntil(const Moment& m) const;
    void setStood(Finding& f, const Moment* now) const;
    std::string text(const Finding& f, bool refilled) const;
    Finding ongoing() const;
    void emitWaiting();
    void endJob(const Moment& m);

    Desk& desk_;

    // The medians so far, of the PC program's silences (from a controller
    // message to its next Data message) and of the replies.
    TimeHistogram silences_;
    TimeHistogram replyDelays_;
    Moment lastController_;
    bool lastControllerFull_ = false;
    bool silenceTaken_ = true;
    Window window_;
    bool windowFromJob_ = false;

    Phase phase_ = Phase::None;
    Finding f_;
    std::string why_;
    std::uint64_t episodes_ = 0; // refilled so far
    Moment began_;               // of the episode open: when the buffer ran dry
    Moment refilled_;            // the end of the last episode that refilled: when motion resumed
    bool projected_ = false;     // the episode open was opened by projection, no block showed it
    std::int64_t stood_ = 0;     // of the episodes that refilled
    bool reportedOngoing_ = false;
};

} // namespace vornlog::findings
