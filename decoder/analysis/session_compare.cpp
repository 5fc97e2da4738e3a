#include "session_compare.h"

#include <algorithm>
#include <climits>
#include <iterator>
#include <utility>

#include "protocol/decode.h"
#include "protocol/values.h"

namespace vornlog::compare {

namespace {

constexpr std::int64_t kMs = 1'000'000;
// Stand-stills shorter than this are left out of the differences.
constexpr std::int64_t kLeastStood = 20 * kMs;
// A stand-still at the same place stands out when it lasted this many
// times and this much longer than the other run's.
constexpr std::int64_t kLongerFactor = 2;
constexpr std::int64_t kLongerBy = 100 * kMs;
// The segments whose lead-up is told: the place and the two before it.
constexpr std::uint64_t kLeadUpSegments = 3;

std::uint64_t mix(std::uint64_t h, std::uint64_t v)
{
    h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    h *= 0xBF58476D1CE4E5B9ull;
    return h ^ (h >> 31);
}

// A stored segment's key: what the job sends (CMD, NBR, the steps with
// their signs).
std::uint64_t keyOf(const motion::Segment& s)
{
    std::uint64_t h = mix(0, s.cmd);
    h = mix(h, static_cast<std::uint32_t>(s.nbr));
    for (std::int32_t steps : s.steps) h = mix(h, static_cast<std::uint32_t>(steps));
    return h;
}

std::uint32_t microseconds(std::int64_t ns)
{
    if (ns <= 0) return 0;
    const std::int64_t us = ns / 1000;
    return us >= UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(us);
}

std::int64_t since(TimeNs origin, TimeNs t) { return elapsed(origin, t); }

} // namespace

RunProfile::RunProfile(bool textDump)
    : replies_(std::make_unique<TimeHistogram>()), silences_(std::make_unique<TimeHistogram>()),
      message_(std::make_unique<ValueSink>()),
      engine_(textDump, false, [this](const findings::Finding& f) { finding(f); })
{
}

RunProfile::~RunProfile() = default;

void RunProfile::feed(const CaptureRecord& record)
{
    ++figures_.records;
    if (!record.isMessage && !record.leftOut) return;
    decodeMessage(record.direction, record.field, *message_);
    engine_.feed(record, *message_);
    const bool timed = record.hasTime;
    if (timed) {
        if (!haveOrigin_) {
            haveOrigin_ = true;
            origin_ = record.timeNs;
        }
        last_ = record.timeNs;
        figures_.digits = std::max(figures_.digits, record.timeForm == TimeForm::Packet ? 6 : record.timeDigits);
    }
    const MessageFacts& facts = engine_.facts();
    if (record.direction == Direction::Pc) {
        if (controllerSpoke_ && controllerTimed_ && timed) {
            const std::int64_t silence = elapsed(controllerAt_, record.timeNs);
            silences_->add(silence);
            next_.silenceUs = std::max(next_.silenceUs, microseconds(silence));
        }
        controllerSpoke_ = false;
    } else {
        controllerSpoke_ = true;
        controllerTimed_ = timed;
        controllerAt_ = record.timeNs;
        if (facts.answered && facts.answered->timed && timed) {
            const std::int64_t reply = elapsed(facts.answered->ns, record.timeNs);
            replies_->add(reply);
            next_.replyUs = std::max(next_.replyUs, microseconds(reply));
        }
        const bool full = facts.event == motion::DataEvent::BufferFull;
        if (full) ++figures_.bufferFull;
        if ((full || findings::refusalOf(*message_, facts.event)) && next_.refusals < UINT16_MAX) ++next_.refusals;
        if (facts.event == motion::DataEvent::Stored) {
            keys_.push_back(keyOf(facts.stored.segment));
            // Timed as the model times a block: at its request's moment.
            const bool at = facts.answered && facts.answered->timed;
            const TimeNs when = at ? facts.answered->ns : record.timeNs;
            arrivals_.push_back(haveOrigin_ && (at || timed) ? since(origin_, when) : INT64_MIN);
            leadUps_.push_back(next_);
            next_ = LeadUp{};
            if (keepShown_) {
                const motion::Segment& seg = facts.stored.segment;
                SegmentShown shown{facts.answered ? facts.answered->at : record.number, seg.cmd, seg.nbr, {}};
                std::copy(std::begin(seg.steps), std::end(seg.steps), shown.steps);
                shown_.push_back(shown);
            }
        }
    }
    const motion::Model& model = engine_.model();
    const motion::Model::Events& ev = model.events();
    // A stop may come once the job's end-of-data mark is stored, which
    // ends the job as far as the model's other events go.
    if (ev.stopRising) stopsSeen_.push_back({record.number, model.segmentAt()});
    if (!ev.any()) return;
    if (ev.resumed) {
        const motion::StandStill& st = model.standStill();
        StandStill s;
        s.segment = st.segment;
        s.timed = st.timed && haveOrigin_;
        if (s.timed) {
            s.dry = since(origin_, st.dry);
            s.stood = std::max<std::int64_t>(0, elapsed(st.dry, st.resumed));
        }
        stills_.push_back(s);
        ++figures_.standStills;
        if (s.timed) figures_.stood = std::min<std::int64_t>(INT64_MAX - s.stood, figures_.stood) + s.stood;
    }
}

void RunProfile::finding(const findings::Finding& f)
{
    if (f.ongoing) return;
    ++figures_.kinds[static_cast<int>(f.kind)];
    ++figures_.causes[static_cast<int>(f.cause)];
    if (f.kind == findings::Kind::Underrun) {
        // Its episodes are the stand-stills told since the last one.
        for (; stillsWithoutCause_ < stills_.size(); ++stillsWithoutCause_) stills_[stillsWithoutCause_].cause = f.cause;
    } else if (f.kind == findings::Kind::Stop) {
        // The segment under way at the first stop the blocks showed since
        // the finding began.
        Stop s;
        s.cause = f.cause;
        s.timed = f.timed;
        s.at = f.start;
        const auto seen = std::find_if(stopsSeen_.begin(), stopsSeen_.end(),
                                       [&f](const StopSeen& st) { return st.number >= f.first; });
        if (seen != stopsSeen_.end())
            s.segment = seen->segment;
        else if (!stopsSeen_.empty())
            s.segment = stopsSeen_.back().segment;
        stopsSeen_.erase(stopsSeen_.begin(), seen == stopsSeen_.end() ? seen : seen + 1);
        stops_.push_back(s);
    }
}

void RunProfile::finish()
{
    engine_.finish();
    figures_.segments = keys_.size();
    figures_.timed = haveOrigin_;
    if (haveOrigin_) figures_.duration = elapsed(origin_, last_);
    // Episodes whose underrun was never told (none should be).
    stillsWithoutCause_ = stills_.size();
}

std::optional<std::int64_t> RunProfile::arrival(std::uint64_t k) const
{
    if (k == 0 || k > arrivals_.size() || arrivals_[k - 1] == INT64_MIN) return std::nullopt;
    return arrivals_[k - 1];
}

// ---- the alignment -----------------------------------------------------------

namespace {

// Myers' difference in linear space: the middle snake of each box, found
// from both ends at once, splits it in two, until every box is a snake.
class Differ {
public:
    // `limit`: the edits it may take before it gives up.
    Differ(std::span<const std::uint64_t> a, std::span<const std::uint64_t> b, std::int64_t limit) : a_(a), b_(b)
    {
        const std::int64_t most = (static_cast<std::int64_t>(a.size() + b.size()) + 1) / 2 + 1;
        size_ = std::min(most, limit / 2 + 2);
        forward_.assign(static_cast<std::size_t>(2 * size_ + 1), 0);
        backward_.assign(static_cast<std::size_t>(2 * size_ + 1), 0);
    }

    // The matches, in order; false when the edits pass the limit.
    bool run(std::vector<std::int32_t>& aOfB, std::uint64_t& matched)
    {
        struct Box {
            std::int64_t left, top, right, bottom;
        };
        std::vector<Box> boxes{{0, 0, static_cast<std::int64_t>(a_.size()), static_cast<std::int64_t>(b_.size())}};
        bool first = true;
        while (!boxes.empty()) {
            const Box box = boxes.back();
            boxes.pop_back();
            Snake s;
            if (!middle(box.left, box.top, box.right, box.bottom, size_ - 1, s)) {
                if (first) return false;
                continue; // an empty box
            }
            first = false;
            // The snake's diagonal: after its one edit going forward,
            // before it going back.
            const std::int64_t run = std::min(s.x1 - s.x0, s.y1 - s.y0);
            const std::int64_t x = s.forward ? s.x1 - run : s.x0, y = s.forward ? s.y1 - run : s.y0;
            for (std::int64_t i = 0; i < run; ++i) {
                aOfB[static_cast<std::size_t>(y + i)] = static_cast<std::int32_t>(x + i);
                ++matched;
            }
            boxes.push_back({s.x1, s.y1, box.right, box.bottom});
            boxes.push_back({box.left, box.top, s.x0, s.y0});
        }
        return true;
    }

private:
    struct Snake {
        std::int64_t x0, y0, x1, y1;
        bool forward;
    };

    std::int32_t& f(std::int64_t k) { return forward_[static_cast<std::size_t>(k + size_)]; }
    std::int32_t& r(std::int64_t k) { return backward_[static_cast<std::size_t>(k + size_)]; }

    // The middle snake of the box; false for an empty box or one whose
    // edits pass `most` steps from either end.
    bool middle(std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom, std::int64_t most,
                Snake& s)
    {
        const std::int64_t w = right - left, h = bottom - top;
        if (w + h == 0) return false;
        const std::int64_t max = std::min((w + h + 1) / 2, most);
        const std::int64_t delta = w - h;
        const bool odd = delta % 2 != 0;
        f(1) = static_cast<std::int32_t>(left);
        r(1) = static_cast<std::int32_t>(bottom);
        for (std::int64_t d = 0; d <= max; ++d) {
            for (std::int64_t k = d; k >= -d; k -= 2) {
                std::int64_t x, px;
                if (k == -d || (k != d && f(k - 1) < f(k + 1)))
                    x = px = f(k + 1);
                else {
                    px = f(k - 1);
                    x = px + 1;
                }
                std::int64_t y = top + (x - left) - k;
                const std::int64_t py = (d == 0 || x != px) ? y : y - 1;
                while (x < right && y < bottom && a_[static_cast<std::size_t>(x)] == b_[static_cast<std::size_t>(y)]) {
                    ++x;
                    ++y;
                }
                f(k) = static_cast<std::int32_t>(x);
                const std::int64_t c = k - delta;
                if (odd && c >= -(d - 1) && c <= d - 1 && y >= r(c)) {
                    s = {px, py, x, y, true};
                    return true;
                }
            }
            for (std::int64_t c = d; c >= -d; c -= 2) {
                std::int64_t y, py;
                if (c == -d || (c != d && r(c - 1) > r(c + 1)))
                    y = py = r(c + 1);
                else {
                    py = r(c - 1);
                    y = py - 1;
                }
                std::int64_t x = left + (y - top) + c + delta;
                const std::int64_t px = (d == 0 || y != py) ? x : x + 1;
                while (x > left && y > top && a_[static_cast<std::size_t>(x - 1)] == b_[static_cast<std::size_t>(y - 1)]) {
                    --x;
                    --y;
                }
                r(c) = static_cast<std::int32_t>(y);
                const std::int64_t k = c + delta;
                if (!odd && k >= -d && k <= d && x <= f(k)) {
                    s = {x, y, px, py, false};
                    return true;
                }
            }
        }
        return false;
    }

    std::span<const std::uint64_t> a_, b_;
    std::int64_t size_ = 0;
    std::vector<std::int32_t> forward_, backward_;
};

// The most matches any alignment can have: the keys both share, counted
// with their repeats.
std::uint64_t sharedKeys(std::span<const std::uint64_t> a, std::span<const std::uint64_t> b)
{
    std::vector<std::uint64_t> x(a.begin(), a.end()), y(b.begin(), b.end());
    std::sort(x.begin(), x.end());
    std::sort(y.begin(), y.end());
    std::uint64_t shared = 0;
    for (std::size_t i = 0, j = 0; i < x.size() && j < y.size();) {
        if (x[i] < y[j])
            ++i;
        else if (y[j] < x[i])
            ++j;
        else {
            ++shared;
            ++i;
            ++j;
        }
    }
    return shared;
}

} // namespace

Alignment align(std::span<const std::uint64_t> a, std::span<const std::uint64_t> b)
{
    Alignment out;
    out.aOfB.assign(b.size(), -1);
    const std::uint64_t larger = std::max(a.size(), b.size());
    if (larger == 0) return out;
    // Fewer shared keys than half the larger run: different jobs, without
    // a difference that would take its quadratic time to say so.
    const std::uint64_t shared = sharedKeys(a, b);
    if (2 * shared < larger) {
        out.matched = shared;
        out.gaveUp = true;
        return out;
    }
    // The edits may be at most half the segments of both runs.
    const auto limit = static_cast<std::int64_t>((a.size() + b.size()) / 2);
    Differ differ(a, b, limit);
    if (!differ.run(out.aOfB, out.matched)) {
        std::fill(out.aOfB.begin(), out.aOfB.end(), -1);
        out.matched = std::min<std::uint64_t>(shared, (a.size() + b.size() - static_cast<std::uint64_t>(limit)) / 2);
        out.gaveUp = true;
    }
    return out;
}

// ---- the differences ------------------------------------------------------------

namespace {

// The places of one run in the other: for each segment of `from` (from
// 1), the matched segment of the other run at or before it (0: none), and
// whether it is matched itself.
struct Places {
    std::vector<std::uint32_t> at;
    std::vector<bool> exact;

    Places(std::size_t count) : at(count + 1, 0), exact(count + 1, false) {}

    // The other run's segment at segment k's place, if any.
    std::uint64_t of(std::uint64_t k) const { return k < at.size() ? at[k] : (at.empty() ? 0 : at.back()); }
    // Segment 0 (before the first) is at the other run's start.
    bool matched(std::uint64_t k) const { return k == 0 || (k < exact.size() && exact[k]); }
};

// The lead-up of segment k: its own and that of the segments before it.
LeadUp leadUpTo(const RunProfile& run, std::uint64_t k)
{
    LeadUp l;
    const std::uint64_t count = run.keys().size();
    if (k == 0 || count == 0) return l;
    k = std::min(k, count);
    for (std::uint64_t i = k > kLeadUpSegments ? k - kLeadUpSegments + 1 : 1; i <= k; ++i) {
        const LeadUp& one = run.leadUp(i);
        l.silenceUs = std::max(l.silenceUs, one.silenceUs);
        l.replyUs = std::max(l.replyUs, one.replyUs);
        l.refusals = static_cast<std::uint16_t>(std::min<unsigned>(UINT16_MAX, l.refusals + one.refusals));
    }
    return l;
}

template <class Event>
bool near(const std::vector<Event>& events, std::uint64_t place, bool exact, const Event** found)
{
    // Within one aligned segment of the place (which lies after `place`
    // when its own segment is not matched).
    const std::uint64_t low = place > 1 ? place - 1 : 0;
    const std::uint64_t high = place + (exact ? 1 : 2);
    bool any = false;
    for (const Event& e : events) {
        if (e.segment < low || e.segment > high) continue;
        if (!any || e.segment == place) *found = &e;
        any = true;
    }
    return any;
}

} // namespace

Comparison compareRuns(const RunProfile& before, const RunProfile& after)
{
    Comparison c;
    const RunProfile* runs[2] = {&before, &after};
    c.segments[0] = before.keys().size();
    c.segments[1] = after.keys().size();
    Alignment al = align(before.keys(), after.keys());
    const std::uint64_t larger = std::max(c.segments[0], c.segments[1]);
    c.matched = al.matched;
    c.matchedAtMost = al.gaveUp;
    c.share = larger ? static_cast<double>(al.matched) / static_cast<double>(larger) : 1.0;
    c.sameJob = !al.gaveUp && 2 * al.matched >= larger;

    if (c.sameJob) {
        // Each run's places in the other.
        Places places[2] = {Places(c.segments[0]), Places(c.segments[1])};
        for (std::size_t j = 0; j < al.aOfB.size(); ++j) {
            if (al.aOfB[j] < 0) continue;
            const auto i = static_cast<std::uint32_t>(al.aOfB[j] + 1);
            places[0].at[i] = static_cast<std::uint32_t>(j + 1);
            places[0].exact[i] = true;
            places[1].at[j + 1] = i;
            places[1].exact[j + 1] = true;
        }
        for (Places& p : places)
            for (std::size_t k = 1; k < p.at.size(); ++k)
                if (!p.exact[k]) p.at[k] = p.at[k - 1];

        for (int x = 0; x < 2; ++x) {
            const int y = 1 - x;
            const RunProfile& mine = *runs[x];
            const RunProfile& other = *runs[y];
            for (const Stop& s : mine.stops()) {
                const std::uint64_t place = places[x].of(s.segment);
                const Stop* there = nullptr;
                if (near(other.stops(), place, places[x].matched(s.segment), &there)) continue;
                Difference d;
                d.what = Difference::What::Only;
                d.kind = findings::Kind::Stop;
                d.cause = s.cause;
                d.in = x ? Side::After : Side::Before;
                d.segment = s.segment;
                d.otherSegment = place;
                if (s.timed) d.at[x] = s.at;
                if (place) d.at[y] = other.arrival(place);
                d.leadUp[x] = leadUpTo(mine, s.segment);
                if (place) d.leadUp[y] = leadUpTo(other, place);
                c.differences.push_back(d);
            }
            for (const StandStill& s : mine.standStills()) {
                if (s.timed && s.stood < kLeastStood) continue;
                const std::uint64_t place = places[x].of(s.segment);
                const StandStill* there = nullptr;
                Difference d;
                d.kind = findings::Kind::Underrun;
                d.cause = s.cause;
                d.in = x ? Side::After : Side::Before;
                d.segment = s.segment;
                d.hasStood = s.timed;
                d.stood = s.stood;
                d.otherSegment = place;
                if (s.timed) d.at[x] = s.dry;
                if (near(other.standStills(), place, places[x].matched(s.segment), &there)) {
                    // The same stand-still: a difference only when this one
                    // lasted far longer (and both are timed).
                    if (!s.timed || !there->timed || s.stood - there->stood < kLongerBy ||
                        s.stood / kLongerFactor < there->stood)
                        continue;
                    d.what = Difference::What::Longer;
                    d.hasOtherStood = true;
                    d.otherStood = there->stood;
                    d.at[y] = there->dry;
                    d.otherSegment = there->segment;
                } else {
                    d.what = Difference::What::Only;
                    if (place) d.at[y] = other.arrival(place);
                }
                d.leadUp[x] = leadUpTo(mine, s.segment);
                if (place) d.leadUp[y] = leadUpTo(other, place);
                c.differences.push_back(d);
            }
        }
        c.motionDiffers = !c.differences.empty();
        // Stops first, then the longest stand-stills; after before before.
        std::stable_sort(c.differences.begin(), c.differences.end(), [](const Difference& l, const Difference& r) {
            if (l.kind != r.kind) return l.kind == findings::Kind::Stop;
            if (l.stood != r.stood) return l.stood > r.stood;
            return l.in == Side::After && r.in == Side::Before;
        });
    }

    // The findings outside the motion, by their counts.
    for (int cause = 0; cause < findings::kCauses; ++cause) {
        const findings::Kind kind = findings::kCauseNames[cause].kind;
        if (kind == findings::Kind::Underrun || kind == findings::Kind::Stop) continue;
        const std::uint64_t b = before.figures().causes[cause], a = after.figures().causes[cause];
        if (a == b) continue;
        Difference d;
        d.what = Difference::What::Count;
        d.kind = kind;
        d.cause = static_cast<findings::Cause>(cause);
        d.in = a > b ? Side::After : Side::Before;
        d.count[0] = b;
        d.count[1] = a;
        c.differences.push_back(d);
    }

    // The segments replaced by others: between two matches, the segments
    // of each run that the other lacks, paired in order.
    if (c.sameJob) {
        std::int64_t lastA = -1;
        std::size_t j = 0;
        const std::size_t nb = al.aOfB.size();
        while (j <= nb) {
            std::size_t k = j;
            while (k < nb && al.aOfB[k] < 0) ++k;
            const std::int64_t nextA = k < nb ? al.aOfB[k] : static_cast<std::int64_t>(c.segments[0]);
            const std::uint64_t onlyAfter = k - j;
            const auto onlyBefore = static_cast<std::uint64_t>(nextA - lastA - 1);
            for (std::uint64_t n = 0; n < std::min(onlyAfter, onlyBefore); ++n) {
                Difference d;
                d.what = Difference::What::ChangedSegment;
                d.in = Side::Both;
                d.segment = j + n + 1;
                d.otherSegment = static_cast<std::uint64_t>(lastA + 2) + n;
                d.at[0] = before.arrival(d.otherSegment);
                d.at[1] = after.arrival(d.segment);
                c.differences.push_back(d);
            }
            if (k >= nb) break;
            lastA = nextA;
            j = k + 1;
        }
    }
    c.aOfB = std::move(al.aOfB);
    return c;
}

unsigned newInAfter(const Comparison& c, const RunProfile& before, const RunProfile& after)
{
    unsigned kinds = 0;
    if (c.sameJob) {
        for (const Difference& d : c.differences)
            if (d.in == Side::After && d.what != Difference::What::ChangedSegment)
                kinds |= 1u << static_cast<unsigned>(d.kind);
        return kinds;
    }
    for (int k = 0; k < findings::kKinds; ++k)
        if (after.figures().kinds[k] > before.figures().kinds[k]) kinds |= 1u << k;
    return kinds;
}

} // namespace vornlog::compare
