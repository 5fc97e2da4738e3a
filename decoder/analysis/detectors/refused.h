// refused: a reply that refused or failed what was asked (not in USB mode,
// a table write failed, a Buffer Management command refused, a status the
// protocol does not name). "Buffer full" is no refusal: the PC sends the
// segment again.
#pragma once

#include "analysis/detectors/detector.h"

namespace vornlog::findings {

class Refused {
public:
    explicit Refused(Desk& desk) : desk_(desk) {}

    void message(const Message& in)
    {
        if (in.pc) return;
        if (const std::optional<Cause> cause = refusalOf(in.v, in.facts.event)) refused(*cause, in);
    }

private:
    void refused(Cause cause, const Message& in);

    Desk& desk_;
};

} // namespace vornlog::findings
