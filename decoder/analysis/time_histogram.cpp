#include "time_histogram.h"

#include <algorithm>

namespace vornlog {

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

} // namespace vornlog
