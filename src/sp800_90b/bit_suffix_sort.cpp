// The tuple counts of bits from a suffix sort: a counting sort on the first 14
// bits, whose counts give every tuple of 14 bits or fewer (short_tuples.hpp);
// then each bucket sorted by the next 64 bits (cached beside the index) and,
// for the rare ties, by full comparison, buckets too big to cache (biased data)
// first splitting in place on 8 bits at a time. The neighbours' common prefixes
// come from the same keys, and each bucket's go through the interval pass for
// the longer tuples while they are in the cache.
#include "sp800_90b/bit_suffix_sort.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <limits>
#include <utility>

#include "pool/cancel.hpp"
#include "pool/pool.hpp"
#include "sp800_90b/bucket_runs.hpp"
#include "sp800_90b/packed_suffixes.hpp"
#include "sp800_90b/short_tuples.hpp"
#include "sp800_90b/tuple_intervals.hpp"
#include "util/big_array.hpp"

namespace veltrane::sp800_90b {

namespace {

// The first sort's bits: 2^14 buckets keep its counters and the cache lines it
// writes to few enough for the cache (with 2^16, a million random bits spent a
// quarter of their sort scattering), and its buckets of random bits small
// enough (about 60 a million) for the sorts of cached keys.
constexpr unsigned BUCKET_BITS = 14;
constexpr std::size_t BUCKETS = std::size_t{1} << BUCKET_BITS;
// Fewer bits go to the byte suffix sort, which needs no buckets.
constexpr std::uint64_t SHORTEST = 64;
// Ranges up to this size sort cached keys; bigger ones split on 8 more bits
// in place, down to this depth (32 levels), then sort by comparison.
constexpr std::size_t CACHED_BUCKET = 4096;
constexpr std::uint64_t SPLIT_DEPTH = BUCKET_BITS + 8 * 32;
// Comparison sorting gives up past this many words per bit: repetitive data.
constexpr std::uint64_t SORT_WORDS_PER_BIT = 16;

struct TooRepetitive {};

using KeyedSuffix = std::pair<std::uint64_t, std::uint32_t>;  // (the next 64 bits, position)

// Below this many keys an insertion sort beats spreading them over bins.
constexpr std::size_t FEW_KEYS = 16;
// Bins holding at most this many keys are sorted by one insertion pass over
// all of them.
constexpr std::uint32_t FEW_IN_BIN = 8;

void insertion_sort_keys(KeyedSuffix* lo, KeyedSuffix* hi) {
    for (KeyedSuffix* it = lo + 1; it < hi; ++it) {
        const KeyedSuffix x = *it;
        if ((it - 1)->first <= x.first) continue;
        KeyedSuffix* hole = it;
        for (; hole != lo && (hole - 1)->first > x.first; --hole) *hole = *(hole - 1);
        *hole = x;
    }
}

// Sorts keys[0..m) by key (equal keys in any order: the caller orders them by
// the bits after), `spare` as long: few keys by insertion; more spread over
// bins on the first bits where they differ (biased data shares many), a bin for
// every one or two keys up to 256, then, where no bin holds many, one insertion
// pass over all, which moves keys within their bins only (a walk over 256
// mostly empty bins cost a bucket of 60 random keys more than all else), else
// each bin on its own.
void sort_keys(KeyedSuffix* keys, KeyedSuffix* spare, std::size_t m) {
    if (m <= FEW_KEYS) {
        insertion_sort_keys(keys, keys + m);
        return;
    }
    std::uint64_t differ = 0;
    for (std::size_t i = 1; i < m; ++i) differ |= keys[i].first ^ keys[0].first;
    if (differ == 0) return;
    const unsigned r = std::min(8u, static_cast<unsigned>(std::bit_width(m)));
    const auto top = static_cast<unsigned>(std::bit_width(differ));  // bits from the first that differs
    const unsigned shift = top > r ? top - r : 0;
    const std::uint64_t mask = (std::uint64_t{1} << r) - 1;
    const std::size_t bins = std::size_t{1} << r;
    std::array<std::uint32_t, 257> start;
    std::fill(start.begin(), start.begin() + static_cast<std::ptrdiff_t>(bins) + 1, 0);
    for (std::size_t i = 0; i < m; ++i) ++start[((keys[i].first >> shift) & mask) + 1];
    std::uint32_t fullest = 0;
    for (std::size_t d = 1; d <= bins; ++d) fullest = std::max(fullest, start[d]), start[d] += start[d - 1];
    for (std::size_t i = 0; i < m; ++i) spare[start[(keys[i].first >> shift) & mask]++] = keys[i];  // start[d] ends as start[d + 1]
    std::copy(spare, spare + m, keys);
    if (fullest <= FEW_IN_BIN) {
        insertion_sort_keys(keys, keys + m);
        return;
    }
    for (std::size_t d = 0; d < bins; ++d) {
        const std::size_t lo = d == 0 ? 0 : start[d - 1];
        if (start[d] - lo > 1) sort_keys(keys + lo, spare + lo, start[d] - lo);
    }
}

// A group's scratch space for ranges of cached keys.
struct KeyBuffers {
    std::vector<KeyedSuffix> keyed, spare;
};

// One group of buckets' work: the common prefixes of the bucket being sorted,
// by position in it, and the words compared against the group's budget.
struct GroupState {
    std::vector<std::uint32_t> lcp;
    std::uint64_t bucket_begin = 0, longest = 0, words = 0, budget = 0;
    void start_bucket(std::uint64_t begin, std::uint64_t size) {
        if (lcp.size() < size) lcp.resize(size);
        bucket_begin = begin;
        longest = 0;
    }
    void record(std::uint64_t i, std::uint64_t l) {
        longest = std::max(longest, l);
        lcp[i - bucket_begin] = static_cast<std::uint32_t>(l);
    }
    void check_budget() {
        pool::checkpoint();
        if (words > budget) throw TooRepetitive{};
    }
};

// Sorts sa[begin, end), suffixes sharing their first `depth` bits, and
// records its neighbours' prefix lengths while their keys are at hand; throws
// TooRepetitive once the group's words pass its budget. Small ranges sort
// cached 64-bit keys; big ones (biased data) split in place on the next 8 bits
// first, keeping the memory at the suffix array's.
void sort_range(const PackedSuffixes& bits, std::uint32_t* sa, std::uint64_t begin, std::uint64_t end, std::uint64_t depth,
                KeyBuffers& buffers, GroupState& out) {
    const std::size_t size = static_cast<std::size_t>(end - begin);
    if (size < 2) return;
    out.check_budget();
    std::uint64_t comparisons = 0;
    auto full_less = [&](std::uint32_t a, std::uint32_t b, std::uint64_t from) {
        if ((++comparisons & 0xFFF) == 0) out.check_budget();
        return bits.less(a, b, from, out.words);
    };
    std::uint32_t* first = sa + begin;
    if (size > CACHED_BUCKET && depth >= SPLIT_DEPTH) {
        // Long shared prefixes in a big range: plain comparison sorting.
        std::sort(first, first + size, [&](std::uint32_t a, std::uint32_t b) { return full_less(a, b, depth); });
        for (std::size_t i = 1; i < size; ++i) {
            if ((i & 0xFFF) == 0) out.check_budget();
            out.record(begin + i, bits.common_prefix(first[i - 1], first[i], depth, out.words));
        }
        return;
    }
    if (size > CACHED_BUCKET) {
        // American flag sort on the 8 bits from the first where the range's
        // suffixes differ (biased data shares many). Zeros past the end put a
        // short suffix with the extensions of its bits, where it sorts first.
        std::uint64_t differ = 0;
        const std::uint64_t key0 = bits.word_at(std::uint64_t{first[0]} + depth);
        for (std::size_t i = 1; i < size; ++i) differ |= bits.word_at(std::uint64_t{first[i]} + depth) ^ key0;
        out.words += size;
        if (differ == 0) {
            sort_range(bits, sa, begin, end, depth + 64, buffers, out);
            return;
        }
        const std::uint64_t from = depth + static_cast<std::uint64_t>(std::countl_zero(differ));
        auto digit = [&](std::uint32_t i) { return static_cast<std::size_t>(bits.word_at(std::uint64_t{i} + from) >> 56); };
        std::array<std::uint64_t, 257> start{};
        for (std::size_t i = 0; i < size; ++i) ++start[digit(first[i]) + 1];
        out.words += size;
        for (std::size_t d = 1; d <= 256; ++d) start[d] += start[d - 1];
        std::array<std::uint64_t, 256> fill;
        std::copy(start.begin(), start.end() - 1, fill.begin());
        for (std::size_t d = 0; d < 256; ++d) {
            while (fill[d] < start[d + 1]) {
                std::uint32_t x = first[fill[d]];
                for (std::size_t e = digit(x); e != d; e = digit(x)) std::swap(x, first[fill[e]++]);
                first[fill[d]++] = x;
            }
        }
        out.words += size;
        for (std::size_t d = 0; d < 256; ++d) {
            sort_range(bits, sa, begin + start[d], begin + start[d + 1], from + 8, buffers, out);
            // Across a boundary the prefix ends within these 8 bits.
            if (start[d] > 0 && start[d] < start[d + 1]) {
                const std::uint64_t i = begin + start[d];
                out.record(i, bits.common_prefix(sa[i - 1], sa[i], from, out.words));
            }
        }
        return;
    }
    std::vector<KeyedSuffix>& keyed = buffers.keyed;
    keyed.resize(size);
    for (std::size_t i = 0; i < size; ++i) keyed[i] = {bits.word_at(std::uint64_t{first[i]} + depth), first[i]};
    out.words += size;
    // Zeros past the end make a suffix's key no larger than its extensions':
    // the key order agrees with suffix order wherever the keys differ.
    buffers.spare.resize(size);
    sort_keys(keyed.data(), buffers.spare.data(), size);
    for (std::size_t i = 0; i < size;) {
        std::size_t j = i + 1;
        while (j < size && keyed[j].first == keyed[i].first) ++j;
        if (j - i > 1) {
            std::sort(keyed.begin() + i, keyed.begin() + j, [&](const auto& x, const auto& y) {
                return full_less(x.second, y.second, depth + 64);
            });
        }
        i = j;
    }
    for (std::size_t i = 0; i < size; ++i) first[i] = keyed[i].second;
    for (std::size_t i = 1; i < size; ++i) {
        const std::uint64_t a = keyed[i - 1].second, b = keyed[i].second;
        const std::uint64_t differ = keyed[i - 1].first ^ keyed[i].first;
        // Differing keys tell the prefix (unless a suffix ends first); equal
        // ones share 64 more bits and compare on.
        const std::uint64_t l =
            differ != 0 ? std::min(bits.size() - std::max(a, b), depth + static_cast<std::uint64_t>(std::countl_zero(differ)))
                        : bits.common_prefix(a, b, depth + 64, out.words);
        out.record(begin + i, l);
    }
}

}  // namespace

std::optional<TupleCounts> count_bit_tuples(const std::uint8_t* bit_bytes, std::uint64_t n) {
    if (n < SHORTEST) return std::nullopt;
    pool::checkpoint();
    const PackedSuffixes bits(bit_bytes, n);
    auto bucket_of = [&](std::uint64_t i) { return static_cast<std::size_t>(bits.word_at(i) >> (64 - BUCKET_BITS)); };
    // The suffixes of BUCKET_BITS bits or more; the shorter ones hold no longer tuple.
    const std::uint64_t m = n - BUCKET_BITS + 1;

    // Counting sort on the first BUCKET_BITS bits: counts per piece, then each piece
    // scatters its positions behind the earlier pieces' of the same bucket.
    const std::size_t pieces = std::min<std::size_t>(pool::piece_count(m), 8);
    std::vector<std::vector<std::uint32_t>> next(pieces, std::vector<std::uint32_t>(BUCKETS, 0));
    pool::run_tasks(pieces, [&](std::size_t p) {
        auto [begin, end] = pool::piece_range(m, pieces, p);
        for (std::uint64_t i = begin; i < end; ++i) ++next[p][bucket_of(i)];
    });
    std::vector<std::uint32_t> bucket_start(BUCKETS + 1, 0);
    std::vector<std::uint64_t> windows(BUCKETS);
    std::uint64_t total = 0;
    for (std::size_t b = 0; b < BUCKETS; ++b) {
        bucket_start[b] = static_cast<std::uint32_t>(total);
        for (std::size_t p = 0; p < pieces; ++p) {
            const std::uint32_t count = next[p][b];
            next[p][b] = static_cast<std::uint32_t>(total);
            total += count;
        }
        windows[b] = total - bucket_start[b];
    }
    bucket_start[BUCKETS] = static_cast<std::uint32_t>(m);
    util::BigArray<std::uint32_t> sa(m);  // every element written below
    pool::run_tasks(pieces, [&](std::size_t p) {
        auto [begin, end] = pool::piece_range(m, pieces, p);
        for (std::uint64_t i = begin; i < end; ++i) sa[next[p][bucket_of(i)]++] = static_cast<std::uint32_t>(i);
    });
    std::vector<std::vector<std::uint32_t>>().swap(next);

    // The buckets, in groups of about equal size, each group with a tally of
    // its own (merged after: sums and maxima, the same for any grouping).
    const std::size_t groups = std::min<std::size_t>(pool::piece_count(m), BUCKETS);
    std::vector<IntervalTally<std::uint32_t>> tallies(groups);
    std::vector<BucketRuns> runs(groups);
    std::atomic<bool> too_repetitive{false};
    pool::run_tasks(groups, [&](std::size_t g) {
        auto [lo, hi] = pool::piece_range(m, groups, g);
        // Group g takes the buckets that start in its share of positions.
        const std::size_t first_bucket =
            std::lower_bound(bucket_start.begin(), bucket_start.end() - 1, lo) - bucket_start.begin();
        const std::size_t end_bucket =
            std::lower_bound(bucket_start.begin(), bucket_start.end() - 1, hi) - bucket_start.begin();
        GroupState state;
        state.budget = SORT_WORDS_PER_BIT * (bucket_start[end_bucket] - bucket_start[first_bucket]) + 4096;
        KeyBuffers buffers;
        buffers.keyed.reserve(CACHED_BUCKET);
        buffers.spare.reserve(CACHED_BUCKET);
        try {
            for (std::size_t b = first_bucket; b < end_bucket; ++b) {
                if (too_repetitive.load(std::memory_order_relaxed)) return;
                const std::uint64_t begin = bucket_start[b], size = bucket_start[b + 1] - begin;
                if (size < 2) continue;
                state.start_bucket(begin, size);
                sort_range(bits, sa.data(), begin, begin + size, BUCKET_BITS, buffers, state);
                if (size <= BucketRuns::MOST && state.longest < BUCKET_BITS + BucketRuns::LEVELS) {
                    runs[g].add(state.lcp.data(), size, BUCKET_BITS, static_cast<unsigned>(state.longest - BUCKET_BITS));
                } else {
                    tallies[g].add(size, BUCKET_BITS, state.longest, [&](std::uint64_t i) { return state.lcp[i]; });
                }
            }
        } catch (const TooRepetitive&) {
            too_repetitive.store(true, std::memory_order_relaxed);
        }
    });
    if (too_repetitive.load()) return std::nullopt;
    sa.reset();
    for (std::size_t g = 1; g < groups; ++g) tallies[0].merge(tallies[g]), runs[0].merge(runs[g]);
    IntervalTally<std::uint32_t>& tally = tallies[0];
    for (unsigned w = 1; w <= runs[0].deepest(); ++w) tally.add_length(BUCKET_BITS + w, runs[0].pairs(w), runs[0].top(w));

    const ShortTuples short_tuples = count_short_tuples(std::move(windows), BUCKET_BITS, bits);
    TupleCounts out;
    out.longest_repeat = tally.longest();
    for (std::uint64_t i = 1; i <= BUCKET_BITS; ++i) {
        if (short_tuples.top[i - 1] >= 2) out.longest_repeat = std::max(out.longest_repeat, i);
    }
    out.top.resize(out.longest_repeat);
    out.pairs.resize(out.longest_repeat);
    for (std::uint64_t i = 1; i <= std::min<std::uint64_t>(BUCKET_BITS, out.longest_repeat); ++i) {
        out.top[i - 1] = short_tuples.top[i - 1];
        out.pairs[i - 1] = static_cast<double>(short_tuples.pairs[i - 1]);
    }
    tally.finish(BUCKET_BITS, out);
    return out;
}

}  // namespace veltrane::sp800_90b
