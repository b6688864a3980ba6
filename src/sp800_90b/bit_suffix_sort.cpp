// Suffix sorting of bits: a counting sort on the first 14 bits, then each
// bucket sorted by the next 64 bits (cached beside the index) and, for the rare
// ties, by full comparison; buckets too big to cache (biased data) first split
// in place on 8 bits at a time. The common prefixes come from the same keys.
#include "sp800_90b/bit_suffix_sort.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <limits>
#include <utility>

#include "pool/cancel.hpp"
#include "pool/pool.hpp"
#include "util/big_array.hpp"

namespace veltrane::sp800_90b {

namespace {

// The first sort's bits: 2^14 buckets keep its counters and the cache lines it
// writes to few enough for the cache (with 2^16, a million random bits spent a
// quarter of their sort scattering), and its buckets of random bits small
// enough (about 60 a million) for the sorts of cached keys.
constexpr unsigned BUCKET_BITS = 14;
constexpr std::size_t BUCKETS = std::size_t{1} << BUCKET_BITS;
// Ranges up to this size sort cached keys; bigger ones split on 8 more bits
// in place, down to this depth (32 levels), then sort by comparison.
constexpr std::size_t CACHED_BUCKET = 4096;
constexpr std::uint64_t SPLIT_DEPTH = BUCKET_BITS + 8 * 32;
// Comparison sorting gives up past this many words per bit: repetitive data.
constexpr std::uint64_t SORT_WORDS_PER_BIT = 16;

struct TooRepetitive {};

class PackedBits {
public:
    PackedBits(const std::uint8_t* bits, std::uint64_t n) : n_(n), words_(n / 64 + 2, 0) {
        const std::uint64_t used = (n + 63) / 64;
        const std::size_t pieces = pool::piece_count(used);
        pool::run_tasks(pieces, [&](std::size_t p) {
            auto [begin, end] = pool::piece_range(used, pieces, p);
            for (std::uint64_t w = begin; w < end; ++w) {
                std::uint64_t word = 0;
                const std::uint64_t first = w * 64, last = std::min(n, first + 64);
                for (std::uint64_t i = first; i < last; ++i) word |= std::uint64_t{bits[i]} << (63 - (i - first));
                words_[w] = word;
            }
        });
    }
    std::uint64_t size() const { return n_; }
    // Bits p..p+63, first bit highest; zeros past the end (the range splits
    // reach past it for suffixes shorter than their depth).
    std::uint64_t word_at(std::uint64_t p) const {
        if (p >= n_) return 0;
        const std::uint64_t w = p >> 6, r = p & 63;  // w + 1 <= n / 64 + 1
        return r == 0 ? words_[w] : (words_[w] << r) | (words_[w + 1] >> (64 - r));
    }
    // The common prefix of the suffixes at a and b, from `from` bits on
    // (known equal before it).
    std::uint64_t common_prefix(std::uint64_t a, std::uint64_t b, std::uint64_t from, std::uint64_t& words) const {
        const std::uint64_t limit = n_ - std::max(a, b);
        std::uint64_t l = from;
        while (l < limit) {
            ++words;
            const std::uint64_t x = word_at(a + l) ^ word_at(b + l);
            if (x != 0) return std::min(limit, l + static_cast<std::uint64_t>(std::countl_zero(x)));
            l += 64;
        }
        return limit;
    }
    // Suffix order: a suffix that is a prefix of another sorts first.
    bool less(std::uint64_t a, std::uint64_t b, std::uint64_t from, std::uint64_t& words) const {
        const std::uint64_t l = common_prefix(a, b, from, words);
        if (l == n_ - std::max(a, b)) return a > b;  // the shorter one ended
        return (word_at(a + l) >> 63) < (word_at(b + l) >> 63);
    }

private:
    std::uint64_t n_;
    std::vector<std::uint64_t> words_;
};

using KeyedSuffix = std::pair<std::uint64_t, std::uint32_t>;  // (the next 64 bits, position)

// Below this many keys an insertion sort beats spreading over 256 bins, whose
// walk cost a bucket of 15 random keys 20 times what sorting them did.
constexpr std::size_t FEW_KEYS = 48;

void insertion_sort_keys(KeyedSuffix* lo, KeyedSuffix* hi) {
    for (KeyedSuffix* it = lo + 1; it < hi; ++it) {
        const KeyedSuffix x = *it;
        KeyedSuffix* hole = it;
        for (; hole != lo && (hole - 1)->first > x.first; --hole) *hole = *(hole - 1);
        *hole = x;
    }
}

// Sorts by key (equal keys in any order: the caller orders them by the bits
// after): few keys by insertion; more spread over 256 bins on the key's first
// 8 bits (on varied data most bins then hold one or two), each bin sorted on
// its own.
void sort_keys(std::vector<KeyedSuffix>& keyed, std::vector<KeyedSuffix>& spare) {
    if (keyed.size() <= FEW_KEYS) {
        insertion_sort_keys(keyed.data(), keyed.data() + keyed.size());
        return;
    }
    std::array<std::size_t, 257> start{};
    for (const KeyedSuffix& k : keyed) ++start[(k.first >> 56) + 1];
    for (std::size_t d = 1; d <= 256; ++d) start[d] += start[d - 1];
    spare.resize(keyed.size());
    std::array<std::size_t, 256> fill;
    std::copy(start.begin(), start.end() - 1, fill.begin());
    for (const KeyedSuffix& k : keyed) spare[fill[k.first >> 56]++] = k;
    for (std::size_t d = 0; d < 256; ++d) {
        const auto lo = spare.begin() + static_cast<std::ptrdiff_t>(start[d]);
        const auto hi = spare.begin() + static_cast<std::ptrdiff_t>(start[d + 1]);
        if (hi - lo < 2) continue;
        if (hi - lo <= 16) {
            insertion_sort_keys(&*lo, &*hi);
        } else {
            std::sort(lo, hi, [](const KeyedSuffix& x, const KeyedSuffix& y) { return x.first < y.first; });
        }
    }
    keyed.swap(spare);
}

// A group's scratch space for ranges of cached keys.
struct KeyBuffers {
    std::vector<KeyedSuffix> keyed, spare;
};

// One group of buckets' results: the prefix lengths of its neighbours go
// straight into the shared byte column, the large ones into its own list.
struct GroupPrefixes {
    std::uint8_t* small;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> large;
    std::uint64_t longest = 0, words = 0, budget = 0;
    void record(std::uint64_t i, std::uint64_t l) {
        longest = std::max(longest, l);
        if (l < CompactPrefixes<std::uint32_t>::LARGE) {
            small[i] = static_cast<std::uint8_t>(l);
        } else {
            small[i] = CompactPrefixes<std::uint32_t>::LARGE;
            large.emplace_back(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(l));
        }
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
void sort_range(const PackedBits& bits, std::uint32_t* sa, std::uint64_t begin, std::uint64_t end, std::uint64_t depth,
                KeyBuffers& buffers, GroupPrefixes& out) {
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
        // American flag sort on bits depth..depth+7. Zeros past the end put a
        // short suffix with the extensions of its bits, where it sorts first.
        auto digit = [&](std::uint32_t i) { return static_cast<std::size_t>(bits.word_at(std::uint64_t{i} + depth) >> 56); };
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
            sort_range(bits, sa, begin + start[d], begin + start[d + 1], depth + 8, buffers, out);
            // Across a boundary the prefix ends within these 8 bits.
            if (start[d] > 0 && start[d] < start[d + 1]) {
                const std::uint64_t i = begin + start[d];
                out.record(i, bits.common_prefix(sa[i - 1], sa[i], depth, out.words));
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
    sort_keys(keyed, buffers.spare);
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

std::optional<CompactPrefixes<std::uint32_t>> sort_bit_suffixes(const std::uint8_t* bit_bytes, std::uint64_t n) {
    pool::checkpoint();
    const PackedBits bits(bit_bytes, n);
    auto bucket_of = [&](std::uint64_t i) { return static_cast<std::size_t>(bits.word_at(i) >> (64 - BUCKET_BITS)); };

    // Counting sort on the first BUCKET_BITS bits: counts per piece, then each piece
    // scatters its positions behind the earlier pieces' of the same bucket.
    const std::size_t pieces = std::min<std::size_t>(pool::piece_count(n), 8);
    std::vector<std::vector<std::uint32_t>> next(pieces, std::vector<std::uint32_t>(BUCKETS, 0));
    pool::run_tasks(pieces, [&](std::size_t p) {
        auto [begin, end] = pool::piece_range(n, pieces, p);
        for (std::uint64_t i = begin; i < end; ++i) ++next[p][bucket_of(i)];
    });
    std::vector<std::uint32_t> bucket_start(BUCKETS + 1, 0);
    std::uint64_t total = 0;
    for (std::size_t b = 0; b < BUCKETS; ++b) {
        bucket_start[b] = static_cast<std::uint32_t>(total);
        for (std::size_t p = 0; p < pieces; ++p) {
            const std::uint32_t count = next[p][b];
            next[p][b] = static_cast<std::uint32_t>(total);
            total += count;
        }
    }
    bucket_start[BUCKETS] = static_cast<std::uint32_t>(n);
    util::BigArray<std::uint32_t> sa(n);  // every element written below
    pool::run_tasks(pieces, [&](std::size_t p) {
        auto [begin, end] = pool::piece_range(n, pieces, p);
        for (std::uint64_t i = begin; i < end; ++i) sa[next[p][bucket_of(i)]++] = static_cast<std::uint32_t>(i);
    });
    std::vector<std::vector<std::uint32_t>>().swap(next);

    // The buckets, in groups of about equal size.
    CompactPrefixes<std::uint32_t> out;
    out.small = zeroed_lengths(n);
    const std::size_t groups = std::min<std::size_t>(pool::piece_count(n), BUCKETS);
    std::vector<GroupPrefixes> results(groups, GroupPrefixes{out.small.data(), {}});
    std::atomic<bool> too_repetitive{false};
    pool::run_tasks(groups, [&](std::size_t g) {
        auto [lo, hi] = pool::piece_range(n, groups, g);
        // Group g takes the buckets that start in its share of positions.
        const std::size_t first_bucket =
            std::lower_bound(bucket_start.begin(), bucket_start.end() - 1, lo) - bucket_start.begin();
        const std::size_t end_bucket =
            std::lower_bound(bucket_start.begin(), bucket_start.end() - 1, hi) - bucket_start.begin();
        GroupPrefixes& mine = results[g];
        const std::uint64_t size = bucket_start[end_bucket] - bucket_start[first_bucket];
        mine.budget = SORT_WORDS_PER_BIT * size + 4096;
        KeyBuffers buffers;
        buffers.keyed.reserve(CACHED_BUCKET);
        buffers.spare.reserve(CACHED_BUCKET);
        try {
            for (std::size_t b = first_bucket; b < end_bucket; ++b) {
                if (too_repetitive.load(std::memory_order_relaxed)) return;
                sort_range(bits, sa.data(), bucket_start[b], bucket_start[b + 1], BUCKET_BITS, buffers, mine);
                if (mine.large.size() > size / NEIGHBOURS_PER_LARGE + 16) throw TooRepetitive{};
            }
        } catch (const TooRepetitive&) {
            too_repetitive.store(true, std::memory_order_relaxed);
        }
    });
    if (too_repetitive.load()) return std::nullopt;
    // Neighbours across a bucket boundary differ within the first BUCKET_BITS bits.
    std::uint64_t words = 0;
    for (std::size_t b = 1; b < BUCKETS; ++b) {
        const std::uint64_t i = bucket_start[b];
        if (i > 0 && i < n && bucket_start[b + 1] > i) {
            const std::uint64_t l = bits.common_prefix(sa[i - 1], sa[i], 0, words);
            out.small[i] = static_cast<std::uint8_t>(l);
            out.longest = std::max(out.longest, l);
        }
    }
    for (GroupPrefixes& r : results) {
        out.longest = std::max(out.longest, r.longest);
        out.large.insert(out.large.end(), r.large.begin(), r.large.end());
    }
    return out;
}

}  // namespace veltrane::sp800_90b
