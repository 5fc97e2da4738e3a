// Durations counted in a fixed histogram: the reply times of the summary
// and the medians "so far" of the findings, in constant memory.
#pragma once

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>

#include "base/bytes.h"

namespace vornlog {

// b - a in nanoseconds, held at the ends of the range: a damaged capture
// file may carry any timestamps at all.
// Inline: the findings and the summary take one for nearly every message.
inline std::int64_t elapsed(TimeNs a, TimeNs b)
{
    const TimeNs d = b - a;
    if (d > INT64_MAX) return INT64_MAX;
    if (d < INT64_MIN) return INT64_MIN;
    return static_cast<std::int64_t>(d);
}

// Durations in a fixed histogram of microseconds. Least and most are exact;
// a percentile is the mean of the durations in its step: exact below 32 us,
// then 32 steps for each doubling, so it is exact when the durations of a
// step are all equal (as in a capture that writes milliseconds) and within
// 1/32 (3.2 %) otherwise. Some 19 KiB.
class TimeHistogram {
public:
    static constexpr int kSteps = 32;
    static constexpr int kStepBits = 5;
    static constexpr int kLastDoubling = 40; // 2^41 us, some 25 days; longer times share the last step
    static constexpr int kBuckets = kSteps + (kLastDoubling - kStepBits + 1) * kSteps;

    // Inline: three or four durations a message exchange.
    void add(std::int64_t ns)
    {
        ns = std::max<std::int64_t>(ns, 0);
        if (count_ == 0 || ns < least_) least_ = ns;
        if (count_ == 0 || ns > most_) most_ = ns;
        ++count_;
        const auto us = static_cast<std::uint64_t>(ns / 1000);
        const int i = index(us);
        Bucket& b = bucket_[i];
        ++b.count;
        b.sum += us;
        if (i < mid_) ++belowMid_;
    }
    std::uint64_t count() const { return count_; }
    std::int64_t least() const { return least_; }
    std::int64_t most() const { return most_; }
    // The duration of rank ceil(count * percent / 100), in nanoseconds; 0
    // when none was added.
    std::int64_t percentile(unsigned percent) const;
    // percentile(50), found from where it was found last: asked after every
    // duration, it costs a step or two instead of a walk over the buckets.
    std::int64_t median();

private:
    struct Bucket {
        std::uint64_t count = 0;
        std::uint64_t sum = 0; // microseconds
    };
    static int index(std::uint64_t us)
    {
        if (us < kSteps) return static_cast<int>(us);
        const int top = std::bit_width(us) - 1; // kStepBits or more
        if (top > kLastDoubling) return kBuckets - 1;
        const int shift = top - kStepBits;
        return kSteps + shift * kSteps + static_cast<int>((us >> shift) & (kSteps - 1));
    }

    std::uint64_t count_ = 0;
    // The bucket where the median was found last, and how many durations
    // lie in the buckets below it.
    int mid_ = 0;
    std::uint64_t belowMid_ = 0;
    std::int64_t least_ = 0;
    std::int64_t most_ = 0;
    Bucket bucket_[kBuckets]{};
};

} // namespace vornlog
