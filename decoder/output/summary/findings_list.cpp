// "Findings": why the machine stuttered or stopped, as the findings engine
// tells it.
#include <algorithm>

#include "taps.h"

namespace vornlog::summary {

void FindingList::add(const findings::Finding& f)
{
    ++byCause_[static_cast<int>(f.cause)];
    if (total_ < kShown) shown_[total_] = f;
    ++total_;
}

void FindingList::write(Out& out) const
{
    heading(out, "Findings");
    if (total_ == 0) {
        Row().text("  None: no underrun, stop, unanswered or refused message, changed resend or slow reply.").put(out);
        return;
    }
    countLine(out, "Findings made", static_cast<std::int64_t>(total_));
    Row().text("  ").left("Kind", 16).left("Cause", 24).right("Count", kItem).put(out);
    for (int c = 0; c < findings::kCauses; ++c) {
        if (!byCause_[c]) continue;
        const findings::CauseName& cause = findings::kCauseNames[c];
        Row()
            .text("  ")
            .left(findings::kindName(cause.kind), 16)
            .left(cause.name, 24)
            .right(static_cast<std::int64_t>(byCause_[c]), kItem)
            .put(out);
    }
    const std::string_view unit = textDump_ ? "lines " : "packets ";
    for (std::size_t i = 0; i < std::min<std::uint64_t>(total_, kShown); ++i) {
        const findings::Finding& f = shown_[i];
        Row().put(out);
        Row row;
        row.text("  #").text(number(static_cast<std::int64_t>(f.id))).text("  ").text(findings::kindName(f.kind));
        row.text(" (").text(findings::causeName(f.cause)).text(")");
        if (f.timed) row.text("  ").text(seconds(f.start)).text(" to ").text(seconds(f.end)).text(" s");
        row.text(", ").text(unit).text(number(static_cast<std::int64_t>(f.first))).text(" to ");
        row.text(number(static_cast<std::int64_t>(f.last)));
        if (f.count > 1) row.text(", ").text(number(static_cast<std::int64_t>(f.count))).text(" times");
        if (f.ongoing) row.text(", still open at the end");
        row.put(out);
        Row().text("      ").text(f.text).put(out);
    }
    if (total_ > kShown) {
        Row().put(out);
        Row()
            .text("  and ")
            .text(number(static_cast<std::int64_t>(total_ - kShown)))
            .text(" more (the first ")
            .text(number(kShown))
            .text(" are shown; vornlog -e writes them all)")
            .put(out);
    }
}

} // namespace vornlog::summary
