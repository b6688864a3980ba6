// The tuple counts of a small bucket of sorted suffixes without the stack pass
// (tuple_intervals.hpp), whose pops cost a mispredicted branch a suffix or so.
// For each length w above the bucket's shared prefix, the neighbours sharing at
// least w bits are a bit mask over the bucket; a run of r ones in it is one
// w-tuple occurring r + 1 times. A run's pairs, C(r + 1, 2), are r + (r - 1) +
// ... + 1: the set bits of the mask, of the mask and its shift by one, and so on
// until nothing is left, which is also when the longest run is known.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include "util/popcount.hpp"

namespace veltrane::sp800_90b {

class BucketRuns {
public:
    // Buckets this small, whose common prefixes exceed the floor by less than
    // LEVELS, are counted here; the others go through the stack pass.
    static constexpr std::uint64_t MOST = 128, LEVELS = 64;

    // lcp[1..m): the common prefix lengths of m <= MOST neighbouring suffixes,
    // each at least `floor`, the largest floor + deepest < floor + LEVELS (and
    // below 256); counts the tuples of floor + 1 .. floor + deepest bits among them.
    void add(const std::uint8_t* lcp, std::uint64_t m, std::uint64_t floor, unsigned deepest) {
        // at[w]: the neighbours (bit i - 1 for lcp[i], in two words) sharing exactly floor + w
        std::uint64_t at[LEVELS][2];
        for (unsigned w = 0; w <= deepest; ++w) at[w][0] = at[w][1] = 0;
        for (std::uint64_t i = 1; i < m; ++i) at[lcp[i] - floor][(i - 1) >> 6] |= std::uint64_t{1} << ((i - 1) & 63);
        std::uint64_t low = 0, high = 0;  // the neighbours sharing at least floor + w
        for (unsigned w = deepest; w >= 1; --w) {
            low |= at[w][0];
            high |= at[w][1];
            std::uint64_t pairs = 0, longest = 0;
            for (std::uint64_t a = low, b = high; (a | b) != 0; ++longest) {
                pairs += util::popcount64(a) + util::popcount64(b);
                b &= (b << 1) | (a >> 63);
                a &= a << 1;
            }
            pairs_[w] += pairs;
            top_[w] = std::max(top_[w], longest + 1);
        }
        deepest_ = std::max(deepest_, deepest);
    }

    // The longest common prefix above the floor seen (0: none).
    unsigned deepest() const { return deepest_; }
    // pairs(floor + w) and top(floor + w) of the buckets counted here, w = 1..deepest().
    std::uint64_t pairs(unsigned w) const { return pairs_[w]; }
    std::uint64_t top(unsigned w) const { return top_[w]; }

    void merge(const BucketRuns& other) {
        for (unsigned w = 0; w < LEVELS; ++w) {
            pairs_[w] += other.pairs_[w];
            top_[w] = std::max(top_[w], other.top_[w]);
        }
        deepest_ = std::max(deepest_, other.deepest_);
    }

private:
    static_assert(MOST - 1 <= 128);

    std::uint64_t pairs_[LEVELS] = {}, top_[LEVELS] = {};
    unsigned deepest_ = 0;
};

}  // namespace veltrane::sp800_90b
