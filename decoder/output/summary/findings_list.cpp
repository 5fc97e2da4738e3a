// "Findings": why the machine stuttered or stopped, as the findings engine
// tells it.
#include <algorithm>
#include <tuple>
#include <utility>

#include "taps.h"

namespace vornlog::summary {

namespace {

int weight(findings::Kind kind)
{
    using findings::Kind;
    switch (kind) {
    case Kind::Stop: return 0;
    case Kind::Underrun: return 1;
    case Kind::NoReply: return 2;
    case Kind::Refused: return 3;
    default: return 4;
    }
}

// Where a finding comes in time: its start, else (no times) its first
// message; the id parts what is left.
auto when(const findings::Finding& f) { return std::tuple(f.timed ? f.start : 0, f.first, f.id); }

// Whether a weighs more than b: the list keeps the heaviest.
bool heavier(const findings::Finding& a, const findings::Finding& b)
{
    return std::pair(weight(a.kind), when(a)) < std::pair(weight(b.kind), when(b));
}

} // namespace

void FindingList::add(const findings::Finding& f)
{
    ++byCause_[static_cast<int>(f.cause)];
    if (total_ < kShown) {
        shown_[total_] = f;
    } else {
        auto lightest = std::max_element(shown_.begin(), shown_.end(), heavier);
        if (heavier(f, *lightest)) *lightest = f;
    }
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
    std::array<const findings::Finding*, kShown> listed{};
    const std::size_t n = std::min<std::uint64_t>(total_, kShown);
    for (std::size_t i = 0; i < n; ++i) listed[i] = &shown_[i];
    std::sort(listed.begin(), listed.begin() + static_cast<std::ptrdiff_t>(n),
              [](const findings::Finding* a, const findings::Finding* b) { return when(*a) < when(*b); });
    std::uint64_t unlisted[findings::kKinds]{};
    for (int c = 0; c < findings::kCauses; ++c) unlisted[static_cast<int>(findings::kCauseNames[c].kind)] += byCause_[c];
    for (std::size_t i = 0; i < n; ++i) {
        const findings::Finding& f = *listed[i];
        --unlisted[static_cast<int>(f.kind)];
        Row().put(out);
        Row row;
        row.text("  #").text(number(static_cast<std::int64_t>(f.id))).text("  ").text(findings::kindName(f.kind));
        row.text(" (").text(findings::causeName(f.cause)).text(")");
        if (f.timed && f.clockWentBack) row.text("  from ").text(seconds(f.start)).text(" s, the clock went back");
        else if (f.timed) row.text("  ").text(seconds(f.start)).text(" to ").text(seconds(f.end)).text(" s");
        row.text(", ").text(unit).text(number(static_cast<std::int64_t>(f.first))).text(" to ");
        row.text(number(static_cast<std::int64_t>(f.last)));
        if (f.count > 1) row.text(", ").text(number(static_cast<std::int64_t>(f.count))).text(" times");
        if (f.ongoing) row.text(", still open at the end");
        row.put(out);
        Row().text("      ").text(f.text).put(out);
    }
    if (total_ > kShown) {
        Row().put(out);
        Row more;
        more.text("  and ").text(number(static_cast<std::int64_t>(total_ - kShown))).text(" more:");
        const char* comma = " ";
        for (int k = 0; k < findings::kKinds; ++k) {
            if (!unlisted[k]) continue;
            more.text(comma).text(number(static_cast<std::int64_t>(unlisted[k]))).text(" ");
            more.text(findings::kKindNames[k]);
            comma = ", ";
        }
        more.text(" (vornlog -e writes them all)").put(out);
    }
}

} // namespace vornlog::summary
