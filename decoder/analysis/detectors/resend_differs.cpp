#include "resend_differs.h"

namespace vornlog::findings {

void ResendDiffers::sent(const Message& in)
{
    const Moment& m = in.m;
    // The segment refused is the last one sent before this one. Compared
    // only after a refusal: the text check costs on every Data message
    // otherwise.
    if (refusalOpen_ && !storedSinceRefusal_ && !in.facts.repeatsLastSent())
        desk_.episode(Kind::ResendDiffers, Cause::SegmentChanged, refusedAt_, m,
                      "The Data message at " + desk_.place(refusedAt_) +
                          " was refused (buffer full), and the next one, at " + desk_.numbered(m.number) +
                          ", sent another segment: the refused one was lost or changed");
    refusalOpen_ = false;
    lastSentAt_ = m;
}

} // namespace vornlog::findings
