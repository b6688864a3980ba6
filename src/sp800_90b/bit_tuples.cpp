// The steps of the bit tuple counts (bit_tuples.hpp).
#include "sp800_90b/bit_tuples.hpp"

#include <algorithm>
#include <tuple>

#include "pool/cancel.hpp"
#include "pool/pool.hpp"
#include "sp800_90b/bit_suffix_sort.hpp"
#include "sp800_90b/run_suffix_order.hpp"
#include "sp800_90b/short_tuples.hpp"

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
// Comparison sorting gives up past this many words per suffix: repetitive data.
constexpr std::uint64_t SORT_WORDS_PER_BIT = 16;
// Bits with at most one run per this many have their order induced from the
// run starts' (a source that keeps its bit nine times in ten has one in ten).
constexpr std::uint64_t RUNS_TO_INDUCE = 4;
// Buckets up to this size count their tuples by joins, bigger ones by the stack
// pass, which needs no scratch memory per suffix.
constexpr std::uint64_t JOINED_MOST = std::uint64_t{1} << 16;
// The small buckets' prefixes fit the sorter's bytes.
static_assert(BUCKET_BITS + BucketRuns::LEVELS <= BitBucketSorter::LARGE);

}  // namespace

BitTupleSort::BitTupleSort(const std::uint8_t* bits, std::uint64_t n) : bits_(bits, n < SHORTEST ? 0 : n) {
    if (n < SHORTEST) return;
    pool::checkpoint();
    // The suffixes of BUCKET_BITS bits or more; the shorter ones hold no longer tuple.
    m_ = n - BUCKET_BITS + 1;
    const std::size_t count = std::min<std::size_t>(pool::piece_count(m_), BUCKETS);
    if (run_count(bits, n) <= n / RUNS_TO_INDUCE) {
        if (auto sa = induced_suffix_array(bits, bits_, SORT_WORDS_PER_BIT * n)) {
            count_windows();
            sa_ = *std::move(sa);
            induced_ = true;
            pieces_.resize(count);
            for (std::size_t p = 0; p < count; ++p) std::tie(pieces_[p].first, pieces_[p].end) = pool::piece_range(n, count, p);
        } else {
            too_repetitive_ = true;
        }
        return;
    }
    // Counting sort on the first BUCKET_BITS bits: counts per piece, then each piece
    // scatters its positions behind the earlier pieces' of the same bucket.
    const std::size_t parts = std::min<std::size_t>(pool::piece_count(m_), 8);
    std::vector<std::vector<std::uint32_t>> next(parts, std::vector<std::uint32_t>(BUCKETS, 0));
    pool::run_tasks(parts, [&](std::size_t p) {
        auto [begin, end] = pool::piece_range(m_, parts, p);
        std::uint32_t* const counts = next[p].data();
        bits_.for_each_window(begin, end, BUCKET_BITS, [&](std::uint64_t, std::uint64_t b) { ++counts[b]; });
    });
    bucket_start_.assign(BUCKETS + 1, 0);
    windows_.resize(BUCKETS);
    std::uint64_t total = 0;
    for (std::size_t b = 0; b < BUCKETS; ++b) {
        bucket_start_[b] = static_cast<std::uint32_t>(total);
        for (std::size_t p = 0; p < parts; ++p) {
            const std::uint32_t c = next[p][b];
            next[p][b] = static_cast<std::uint32_t>(total);
            total += c;
        }
        windows_[b] = total - bucket_start_[b];
    }
    bucket_start_[BUCKETS] = static_cast<std::uint32_t>(m_);
    sa_ = util::BigArray<std::uint32_t>(m_);  // every element written below
    pool::run_tasks(parts, [&](std::size_t p) {
        auto [begin, end] = pool::piece_range(m_, parts, p);
        std::uint32_t* const at = next[p].data();
        std::uint32_t* const sa = sa_.data();
        bits_.for_each_window(begin, end, BUCKET_BITS, [&](std::uint64_t i, std::uint64_t b) { sa[at[b]++] = static_cast<std::uint32_t>(i); });
    });

    // The buckets, in pieces of about equal size: piece p takes the buckets
    // that start in its share of positions.
    pieces_.resize(count);
    for (std::size_t p = 0; p < count; ++p) {
        auto [lo, hi] = pool::piece_range(m_, count, p);
        pieces_[p].first = std::lower_bound(bucket_start_.begin(), bucket_start_.end() - 1, lo) - bucket_start_.begin();
        pieces_[p].end = std::lower_bound(bucket_start_.begin(), bucket_start_.end() - 1, hi) - bucket_start_.begin();
    }
}

void BitTupleSort::count_windows() {
    const std::size_t parts = std::min<std::size_t>(pool::piece_count(m_), 8);
    std::vector<std::vector<std::uint64_t>> counts(parts, std::vector<std::uint64_t>(BUCKETS, 0));
    pool::run_tasks(parts, [&](std::size_t p) {
        auto [begin, end] = pool::piece_range(m_, parts, p);
        std::uint64_t* const part = counts[p].data();
        bits_.for_each_window(begin, end, BUCKET_BITS, [&](std::uint64_t, std::uint64_t b) { ++part[b]; });
    });
    windows_.assign(BUCKETS, 0);
    for (const auto& part : counts) {
        for (std::size_t b = 0; b < BUCKETS; ++b) windows_[b] += part[b];
    }
}

double BitTupleSort::share(std::size_t p) const {
    const Piece& piece = pieces_[p];
    if (induced_) return static_cast<double>(piece.end - piece.first) / static_cast<double>(bits_.size());
    return static_cast<double>(bucket_start_[piece.end] - bucket_start_[piece.first]) / static_cast<double>(m_);
}

void BitTupleSort::sort_piece(std::size_t p) {
    try {
        if (induced_) {
            compare_induced(pieces_[p]);
        } else {
            sort_buckets(pieces_[p]);
        }
    } catch (const TooRepetitive&) {
        too_repetitive_.store(true, std::memory_order_relaxed);
    }
}

void BitTupleSort::count_bucket(Piece& piece, std::uint64_t count, std::uint64_t longest, const std::uint8_t* small,
                                const std::vector<std::pair<std::uint32_t, std::uint32_t>>& large) {
    if (count <= BucketRuns::MOST && longest < BUCKET_BITS + BucketRuns::LEVELS) {
        piece.runs.add(small, count, BUCKET_BITS, static_cast<unsigned>(longest - BUCKET_BITS));
    } else if (count <= JOINED_MOST) {
        piece.tally.add_by_joins(count, BUCKET_BITS, longest, [&](auto&& f) {
            auto next = large.begin();
            for (std::uint64_t i = 1; i < count; ++i) f(i, small[i] != BitBucketSorter::LARGE ? small[i] : (next++)->second);
        });
    } else {
        auto next = large.begin();
        piece.tally.add(count, BUCKET_BITS, longest, [&](std::uint64_t i) -> std::uint64_t {
            return small[i] != BitBucketSorter::LARGE ? small[i] : (next++)->second;
        });
    }
}

void BitTupleSort::sort_buckets(Piece& piece) {
    const std::uint64_t size = bucket_start_[piece.end] - bucket_start_[piece.first];
    std::uint64_t largest = 0;
    for (std::size_t b = piece.first; b < piece.end; ++b) largest = std::max<std::uint64_t>(largest, bucket_start_[b + 1] - bucket_start_[b]);
    BitBucketSorter sorter(largest, SORT_WORDS_PER_BIT * size + 4096);
    for (std::size_t b = piece.first; b < piece.end; ++b) {
        if (too_repetitive_.load(std::memory_order_relaxed)) return;
        const std::uint64_t begin = bucket_start_[b], count = bucket_start_[b + 1] - begin;
        if (count < 2) continue;
        sorter.sort(bits_, sa_.data(), begin, begin + count, BUCKET_BITS);
        count_bucket(piece, count, sorter.longest(), sorter.small(), sorter.large());
    }
}

// A range of the induced order: its neighbours' common prefixes by direct
// comparison, the buckets (neighbours sharing BUCKET_BITS bits) that start in
// the range counted whole.
void BitTupleSort::compare_induced(Piece& piece) {
    const std::uint64_t n = bits_.size();
    std::uint64_t words = 0, calls = 0;
    const std::uint64_t budget = SORT_WORDS_PER_BIT * (piece.end - piece.first) + 4096;
    auto prefix = [&](std::uint64_t i) {  // of the suffixes at i - 1 and i of the order
        if ((++calls & 0xFFF) == 0) {
            pool::checkpoint();
            if (words > budget || too_repetitive_.load(std::memory_order_relaxed)) throw TooRepetitive{};
        }
        return bits_.common_prefix(sa_[i - 1], sa_[i], 0, words);
    };
    std::uint64_t i = piece.first;
    if (i > 0) {
        while (i < n && prefix(i) >= BUCKET_BITS) ++i;  // the bucket begun before belongs to the piece before
    }
    std::vector<std::uint8_t> small;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> large;
    while (i < piece.end) {
        // the bucket from i: its neighbours sharing BUCKET_BITS bits or more
        small.assign(1, 0);
        large.clear();
        std::uint64_t longest = 0, j = i + 1;
        for (; j < n; ++j) {
            const std::uint64_t l = prefix(j);
            if (l < BUCKET_BITS) break;
            longest = std::max(longest, l);
            if (l < BitBucketSorter::LARGE) {
                small.push_back(static_cast<std::uint8_t>(l));
            } else {
                small.push_back(BitBucketSorter::LARGE);
                large.emplace_back(static_cast<std::uint32_t>(j - i), static_cast<std::uint32_t>(l));
            }
        }
        if (j - i >= 2) count_bucket(piece, j - i, longest, small.data(), large);
        i = j;
    }
    if (words > budget) throw TooRepetitive{};
}

std::optional<TupleCounts> BitTupleSort::counts() {
    if (pieces_.empty() || too_repetitive_.load()) return std::nullopt;
    sa_.reset();
    // Sums and maxima: the same for any division into pieces.
    Piece& all = pieces_[0];
    for (std::size_t p = 1; p < pieces_.size(); ++p) all.tally.merge(pieces_[p].tally), all.runs.merge(pieces_[p].runs);
    IntervalTally<std::uint32_t>& tally = all.tally;
    for (unsigned w = 1; w <= all.runs.deepest(); ++w) tally.add_length(BUCKET_BITS + w, all.runs.pairs(w), all.runs.top(w));

    const ShortTuples short_tuples = count_short_tuples(std::move(windows_), BUCKET_BITS, bits_);
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

std::optional<TupleCounts> count_bit_tuples(const std::uint8_t* bits, std::uint64_t n) {
    BitTupleSort sort(bits, n);
    pool::run_tasks(sort.pieces(), [&](std::size_t p) { sort.sort_piece(p); });
    return sort.counts();
}

}  // namespace veltrane::sp800_90b
