// Sorting a bucket of bit suffixes: by the next 64 bits (cached beside the
// index) and, for the rare ties, by full comparison; ranges too big to cache
// (biased data) first split in place on 8 bits at a time. The neighbours'
// common prefixes come from the same keys.
#include "sp800_90b/bit_suffix_sort.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <utility>

#include "pool/cancel.hpp"

namespace veltrane::sp800_90b {

namespace {

// Ranges up to this size sort cached keys (1 MB of them and their spare
// copy: on biased bits the in-place splits of bigger ranges cost more than the
// key sorts they spare); bigger ones split on 8 more bits in place, down to
// this depth past the bucket's (32 levels), then sort by comparison.
constexpr std::size_t CACHED_BUCKET = 32768;
constexpr std::uint64_t SPLIT_DEPTH = 8 * 32;

using KeyedSuffix = BitBucketSorter::KeyedSuffix;

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

// Sorts sa[begin, end), suffixes sharing their first `depth` bits, and
// records its neighbours' prefix lengths while their keys are at hand; throws
// TooRepetitive once the group's words pass its budget. Small ranges sort
// cached 64-bit keys; big ones (biased data) split in place on the next 8 bits
// first, keeping the memory at the suffix array's.
}  // namespace

void BitBucketSorter::sort_range(const PackedSuffixes& bits, std::uint32_t* sa, std::uint64_t begin, std::uint64_t end,
                                 std::uint64_t depth) {
    BitBucketSorter& out = *this;
    const std::size_t size = static_cast<std::size_t>(end - begin);
    if (size < 2) return;
    out.check_budget();
    std::uint64_t comparisons = 0;
    auto full_less = [&](std::uint32_t a, std::uint32_t b, std::uint64_t from) {
        if ((++comparisons & 0xFFF) == 0) out.check_budget();
        return bits.less(a, b, from, out.words);
    };
    std::uint32_t* first = sa + begin;
    if (size > CACHED_BUCKET && depth >= split_depth_) {
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
        // (that pass counts as the split it spares, unless there is none)
        if (differ == 0) {
            out.words += size;
            sort_range(bits, sa, begin, end, depth + 64);
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
            sort_range(bits, sa, begin + start[d], begin + start[d + 1], from + 8);
            // Across a boundary the prefix ends within these 8 bits.
            if (start[d] > 0 && start[d] < start[d + 1]) {
                const std::uint64_t i = begin + start[d];
                out.record(i, bits.common_prefix(sa[i - 1], sa[i], from, out.words));
            }
        }
        return;
    }
    KeyedSuffix* const keyed = keyed_.data();
    for (std::size_t i = 0; i < size; ++i) keyed[i] = {bits.word_at(std::uint64_t{first[i]} + depth), first[i]};
    out.words += size;
    // Zeros past the end make a suffix's key no larger than its extensions':
    // the key order agrees with suffix order wherever the keys differ.
    sort_keys(keyed, spare_.data(), size);
    for (std::size_t i = 0; i < size;) {
        std::size_t j = i + 1;
        while (j < size && keyed[j].first == keyed[i].first) ++j;
        if (j - i > 1) {
            std::sort(keyed + i, keyed + j, [&](const auto& x, const auto& y) {
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

BitBucketSorter::BitBucketSorter(std::uint64_t largest, std::uint64_t budget)
    : small_(largest), keyed_(std::min<std::uint64_t>(largest, CACHED_BUCKET)),
      spare_(std::min<std::uint64_t>(largest, CACHED_BUCKET)), budget_(budget) {}

void BitBucketSorter::sort(const PackedSuffixes& bits, std::uint32_t* sa, std::uint64_t begin, std::uint64_t end,
                           std::uint64_t depth) {
    large_.clear();
    bucket_begin_ = begin;
    longest_ = 0;
    split_depth_ = depth + SPLIT_DEPTH;
    sort_range(bits, sa, begin, end, depth);
    // A split records the prefix across its boundary after the ranges on either side.
    std::sort(large_.begin(), large_.end());
}

void BitBucketSorter::check_budget() {
    pool::checkpoint();
    if (words > budget_) throw TooRepetitive{};
}

}  // namespace veltrane::sp800_90b
