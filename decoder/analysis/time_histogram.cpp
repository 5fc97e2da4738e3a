#include "time_histogram.h"

#include <algorithm>
#include <bit>
#include <climits>

namespace vornlog {

std::int64_t elapsed(TimeNs a, TimeNs b)
{
    const TimeNs d = b - a;
    if (d > INT64_MAX) return INT64_MAX;
    if (d < INT64_MIN) return INT64_MIN;
    return static_cast<std::int64_t>(d);
}

void TimeHistogram::add(std::int64_t ns)
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

std::int64_t TimeHistogram::median()
{
    if (count_ == 0) return 0;
    const std::uint64_t rank = std::max<std::uint64_t>(1, (count_ * 50 + 99) / 100);
    while (belowMid_ + bucket_[mid_].count < rank) belowMid_ += bucket_[mid_++].count;
    while (belowMid_ >= rank) belowMid_ -= bucket_[--mid_].count;
    const Bucket& b = bucket_[mid_];
    return std::clamp<std::int64_t>(static_cast<std::int64_t>(b.sum / b.count) * 1000, least_, most_);
}

std::int64_t TimeHistogram::percentile(unsigned percent) const
{
    if (count_ == 0) return 0;
    const std::uint64_t rank = std::max<std::uint64_t>(1, (count_ * percent + 99) / 100);
    std::uint64_t seen = 0;
    // Only the buckets from the least time's to the most's can be used.
    const int low = index(static_cast<std::uint64_t>(least_ / 1000)), high = index(static_cast<std::uint64_t>(most_ / 1000));
    for (int i = low; i <= high; ++i) {
        const Bucket& b = bucket_[i];
        seen += b.count;
        if (b.count && seen >= rank)
            return std::clamp<std::int64_t>(static_cast<std::int64_t>(b.sum / b.count) * 1000, least_, most_);
    }
    return most_;
}

int TimeHistogram::index(std::uint64_t us)
{
    if (us < kSteps) return static_cast<int>(us);
    const int top = std::bit_width(us) - 1; // kStepBits or more
    if (top > kLastDoubling) return kBuckets - 1;
    const int shift = top - kStepBits;
    return kSteps + shift * kSteps + static_cast<int>((us >> shift) & (kSteps - 1));
}

} // namespace vornlog
