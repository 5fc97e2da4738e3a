#include "no_reply.h"

#include "protocol/instructions.h"

namespace vornlog::findings {

void NoReply::unanswered(const RequestPairing::Request& asked, const Moment& m)
{
    if (asked.code == control::kResetCode) return;
    std::string text = "The PC's " + std::string(instructionName(asked.code)) + " message at " +
                       desk_.place(momentOf(asked)) + " got no reply before its next message at " +
                       desk_.numbered(m.number);
    if (asked.timed && desk_.haveOrigin() && m.timed && m.ns >= asked.ns)
        text += ", " + milliseconds(elapsed(asked.ns, m.ns)) + " later";
    desk_.episode(Kind::NoReply, Cause::Timeout, momentOf(asked), m, std::move(text));
}

} // namespace vornlog::findings
