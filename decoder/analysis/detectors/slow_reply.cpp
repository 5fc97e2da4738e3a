#include "slow_reply.h"

namespace vornlog::findings {

namespace {

// A slow reply: this many times its instruction's median, once the median
// rests on this many replies.
constexpr std::int64_t kSlowReplyFactor = 10;
constexpr std::uint64_t kMedianReplies = 8;

} // namespace

void SlowReply::reply(std::uint8_t code, const RequestPairing::Request& asked, const Moment& m)
{
    const std::int64_t d = elapsed(asked.ns, m.ns);
    auto& of = of_[code];
    if (!of) of = std::make_unique<TimeHistogram>();
    // The median is worked out only for a reply long enough to be slow:
    // most are not.
    const std::int64_t median = d >= kLong && of->count() >= kMedianReplies ? of->median() : 0;
    if (median > 0 && atLeastTimes(d, kSlowReplyFactor, median))
        desk_.episode(Kind::SlowReply, Cause::ControllerDelay, Moment{asked.at, true, asked.ns}, m,
                      "The controller took " + milliseconds(d) + " to answer the " + std::string(instructionName(code)) +
                          " message at " + desk_.numbered(asked.at) + " (median " + milliseconds(median) +
                          " for that instruction)");
    of->add(d);
}

} // namespace vornlog::findings
