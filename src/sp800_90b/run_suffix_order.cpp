// The induced suffix order of bits with long runs (run_suffix_order.hpp).
#include "sp800_90b/run_suffix_order.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <vector>

#include "pool/cancel.hpp"
#include "pool/pool.hpp"
#include "sp800_90b/bit_suffix_sort.hpp"

namespace veltrane::sp800_90b {

namespace {

// The run starts' first sort: on their first 12 bits (a tenth of the suffixes
// or fewer need fewer buckets than all of them).
constexpr unsigned START_BITS = 12;
constexpr std::size_t START_BUCKETS = std::size_t{1} << START_BITS;

// The run starts (positions) in suffix order; empty past the budget.
std::optional<std::vector<std::uint32_t>> sorted_starts(const PackedSuffixes& packed, const std::vector<std::uint32_t>& starts,
                                                        std::uint64_t budget) {
    const std::size_t runs = starts.size();
    auto bucket_of = [&](std::uint32_t p) { return static_cast<std::size_t>(packed.word_at(p) >> (64 - START_BITS)); };
    std::vector<std::uint32_t> bucket_start(START_BUCKETS + 1, 0);
    for (std::uint32_t p : starts) ++bucket_start[bucket_of(p) + 1];
    for (std::size_t b = 1; b <= START_BUCKETS; ++b) bucket_start[b] += bucket_start[b - 1];
    std::vector<std::uint32_t> order(runs);
    {
        std::vector<std::uint32_t> fill(bucket_start.begin(), bucket_start.end() - 1);
        for (std::uint32_t p : starts) order[fill[bucket_of(p)]++] = p;
    }
    const std::size_t pieces = std::min<std::size_t>(pool::piece_count(runs), START_BUCKETS);
    std::atomic<bool> too_repetitive{false};
    pool::run_tasks(pieces, [&](std::size_t piece) {
        auto [lo, hi] = pool::piece_range(runs, pieces, piece);
        const std::size_t first = std::lower_bound(bucket_start.begin(), bucket_start.end() - 1, lo) - bucket_start.begin();
        const std::size_t end = std::lower_bound(bucket_start.begin(), bucket_start.end() - 1, hi) - bucket_start.begin();
        std::uint64_t largest = 0;
        for (std::size_t b = first; b < end; ++b) largest = std::max<std::uint64_t>(largest, bucket_start[b + 1] - bucket_start[b]);
        BitBucketSorter sorter(largest, budget / pieces + 4096);
        try {
            for (std::size_t b = first; b < end; ++b) {
                if (too_repetitive.load(std::memory_order_relaxed)) return;
                if (bucket_start[b + 1] - bucket_start[b] > 1) {
                    sorter.sort(packed, order.data(), bucket_start[b], bucket_start[b + 1], START_BITS);
                }
            }
        } catch (const TooRepetitive&) {
            too_repetitive.store(true, std::memory_order_relaxed);
        }
    });
    if (too_repetitive.load()) return std::nullopt;
    return order;
}

// The length of the run that ends just before position p (0 < p <= n).
std::uint64_t run_before(const PackedSuffixes& packed, std::uint64_t p) {
    const bool ones = (packed.word_at(p - 1) >> 63) != 0;
    std::uint64_t length = 0;
    for (;;) {
        // the bits up to p - 1, p - 1 lowest (fewer than 64 at the start: the first bits, zeros above them)
        const std::uint64_t x = p >= 64 ? packed.word_at(p - 64) : packed.word_at(0) >> (64 - p);
        const std::uint64_t step = std::min<std::uint64_t>(ones ? std::countr_one(x) : std::countr_zero(x), std::min<std::uint64_t>(p, 64));
        length += step;
        if (step < 64 || p == 64) return length;
        p -= 64;
    }
}

}  // namespace

std::uint64_t run_count(const std::uint8_t* bits, std::uint64_t n) {
    if (n == 0) return 0;
    std::uint64_t runs = 1;
    for (std::uint64_t i = 1; i < n; ++i) runs += bits[i] != bits[i - 1];
    return runs;
}

std::optional<util::BigArray<std::uint32_t>> induced_suffix_array(const std::uint8_t* bits, const PackedSuffixes& packed,
                                                                 std::uint64_t budget) {
    const std::uint64_t n = packed.size();
    pool::checkpoint();
    std::vector<std::uint32_t> starts;  // of every run, then n
    for (std::uint64_t i = 0; i < n; ++i) {
        if (i == 0 || bits[i] != bits[i - 1]) starts.push_back(static_cast<std::uint32_t>(i));
    }
    std::optional<std::vector<std::uint32_t>> order = sorted_starts(packed, starts, budget);
    if (!order) return std::nullopt;
    const std::size_t runs = starts.size();
    starts.push_back(static_cast<std::uint32_t>(n));

    // The groups of suffixes b^a followed by a run start: how many of each,
    // from the lengths of the runs before a start (all but the last).
    const unsigned last_bit = bits[starts[runs - 1]];
    const std::uint64_t last_length = n - starts[runs - 1];
    std::vector<std::uint64_t> at[2];  // at[b][a]: where group (b, a) goes next
    for (std::size_t k = 0; k + 1 < runs; ++k) {
        std::vector<std::uint64_t>& lengths = at[bits[starts[k]]];
        const std::uint64_t length = starts[k + 1] - starts[k];
        if (lengths.size() <= length) lengths.resize(length + 1, 0);
        ++lengths[length];
    }
    for (auto& counts : at) {  // runs of length a or more
        for (std::size_t a = counts.size(); a-- > 1;) {
            if (a + 1 < counts.size()) counts[a] += counts[a + 1];
        }
    }
    util::BigArray<std::uint32_t> sa(n);
    std::uint64_t place = 0;
    // 0s: the last run's (its 0^a at the very end, shortest first), then each a from the longest down.
    if (last_bit == 0) {
        for (std::uint64_t a = 1; a <= last_length; ++a) sa[place++] = static_cast<std::uint32_t>(n - a);
    }
    for (std::size_t a = at[0].size(); a-- > 1;) {
        const std::uint64_t count = at[0][a];
        at[0][a] = place;
        place += count;
    }
    // 1s: for each a from 1 up, the last run's 1^a (if it is of 1s), then the group.
    const std::uint64_t most = std::max<std::uint64_t>(at[1].empty() ? 0 : at[1].size() - 1, last_bit == 1 ? last_length : 0);
    for (std::uint64_t a = 1; a <= most; ++a) {
        if (last_bit == 1 && a <= last_length) sa[place++] = static_cast<std::uint32_t>(n - a);
        if (a < at[1].size()) {
            const std::uint64_t count = at[1][a];
            at[1][a] = place;
            place += count;
        }
    }
    // Each run start, in order, places the suffixes of the run before it.
    for (std::size_t j = 0; j < runs; ++j) {
        if ((j & 0xFFFF) == 0) pool::checkpoint();
        const std::uint32_t r = (*order)[j];
        if (r == 0) continue;
        const std::uint64_t length = run_before(packed, r);
        std::vector<std::uint64_t>& group = at[bits[r - 1]];
        for (std::uint64_t a = 1; a <= length; ++a) sa[group[a]++] = r - static_cast<std::uint32_t>(a);
    }
    return sa;
}

}  // namespace veltrane::sp800_90b
