// resend-differs: after a "buffer full" reply, the PC's next Data message
// was not the segment refused (it was lost or changed on the way).
#pragma once

#include "analysis/detectors/detector.h"

namespace vornlog::findings {

class ResendDiffers {
public:
    explicit ResendDiffers(Desk& desk) : desk_(desk) {}

    void message(const Message& in)
    {
        if (in.v.code() != motion::kDataCode) return;
        if (in.pc)
            sent(in);
        else if (in.facts.event == motion::DataEvent::Stored)
            storedSinceRefusal_ = true;
        else if (in.facts.event == motion::DataEvent::BufferFull)
            refused();
    }

private:
    void sent(const Message& in);
    void refused()
    {
        refusalOpen_ = lastSentAt_.number != 0; // a refusal before any Data message refuses nothing
        refusedAt_ = lastSentAt_;
        storedSinceRefusal_ = false;
    }

    Desk& desk_;
    Moment lastSentAt_, refusedAt_;
    bool refusalOpen_ = false;
    bool storedSinceRefusal_ = false;
};

} // namespace vornlog::findings
