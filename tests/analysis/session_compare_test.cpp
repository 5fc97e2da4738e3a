// The alignment of two runs' segments: as many matches as the longest
// common subsequence, each a pair of equal keys, in order, on random runs
// with segments inserted, dropped, replaced and resent; and it gives up on
// runs that share too little.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "analysis/session_compare.h"

using namespace vornlog;

namespace {

std::uint64_t longestCommon(const std::vector<std::uint64_t>& a, const std::vector<std::uint64_t>& b)
{
    std::vector<std::vector<std::uint64_t>> l(a.size() + 1, std::vector<std::uint64_t>(b.size() + 1, 0));
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j)
            l[i][j] = a[i - 1] == b[j - 1] ? l[i - 1][j - 1] + 1 : std::max(l[i - 1][j], l[i][j - 1]);
    return l[a.size()][b.size()];
}

} // namespace

TEST(SessionCompare, AlignsAsManySegmentsAsTheLongestCommonRunInOrder)
{
    std::mt19937 rng(46);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint64_t> a(rng() % 60);
        // Few distinct keys in some rounds: repeated segments.
        const unsigned keys = round % 3 == 0 ? 4 : 1000;
        for (auto& k : a) k = rng() % keys;
        std::vector<std::uint64_t> b;
        for (std::uint64_t k : a) {
            const unsigned r = rng() % 20;
            if (r == 0) continue;                       // dropped
            if (r == 1) b.push_back(rng() % keys);      // inserted
            b.push_back(r == 2 ? rng() % keys : k);     // replaced
            if (r == 3) b.push_back(k);                 // resent
        }
        if (round % 10 == 0) b.resize(b.size() / 2); // cut short
        const compare::Alignment al = compare::align(a, b);
        const std::uint64_t lcs = longestCommon(a, b);
        if (al.gaveUp) {
            EXPECT_LT(2 * lcs, std::max(a.size(), b.size())) << "round " << round;
            EXPECT_LE(lcs, al.matched) << "round " << round;
            continue;
        }
        EXPECT_EQ(al.matched, lcs) << "round " << round;
        std::int64_t last = -1;
        std::uint64_t matched = 0;
        for (std::size_t j = 0; j < b.size(); ++j) {
            if (al.aOfB[j] < 0) continue;
            ++matched;
            EXPECT_GT(al.aOfB[j], last) << "round " << round;
            last = al.aOfB[j];
            EXPECT_EQ(a[static_cast<std::size_t>(al.aOfB[j])], b[j]) << "round " << round;
        }
        EXPECT_EQ(matched, al.matched);
    }
}

TEST(SessionCompare, GivesUpOnRunsThatShareTooLittle)
{
    std::vector<std::uint64_t> a(1000), b(1000);
    for (std::size_t i = 0; i < a.size(); ++i) {
        a[i] = i;
        b[i] = i < 300 ? i : 5000 + i; // 30 % shared
    }
    const compare::Alignment al = compare::align(a, b);
    EXPECT_TRUE(al.gaveUp);
    EXPECT_LT(2 * al.matched, a.size());
}
