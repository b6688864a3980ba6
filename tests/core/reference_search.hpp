// The first engine of the repeated-fragment search, kept for the tests only:
// it enumerates every admissible length and groups all windows of that length
// by content (a rolling hash mod 2^61 - 1, confirmed by comparing elements),
// then sorts every candidate. Slow (about n * m^2 element reads) but direct,
// so the fast engine must return exactly what it returns.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <span>
#include <unordered_map>
#include <vector>

#include "pool/pool.hpp"
#include "strings/frag/fragment.hpp"

namespace veltrane::reference {

using veltrane::strings::frag::Fragment;
using veltrane::strings::frag::FragmentInterval;
namespace pool = veltrane::pool;

// A fragment with at least `times` greedy non-overlapping occurrences.
struct FragmentCandidate {
    std::uint64_t covered_length;    // occurrence_count * fragment_length
    std::uint64_t fragment_length;
    std::uint64_t occurrence_count;  // == occurrences.size()
    std::vector<FragmentInterval> occurrences;  // ascending, pairwise disjoint
};



// Rank order: covered length, then fragment length, then occurrence count, all
// descending; fully tied fragments by the start of their first occurrence, so
// the result is the same on every call and for every thread count.
inline bool ranks_before(const FragmentCandidate& a, const FragmentCandidate& b) {
    if (a.covered_length != b.covered_length) return a.covered_length > b.covered_length;
    if (a.fragment_length != b.fragment_length) return a.fragment_length > b.fragment_length;
    if (a.occurrence_count != b.occurrence_count) return a.occurrence_count > b.occurrence_count;
    return a.occurrences.front().start < b.occurrences.front().start;
}

namespace detail {

// Polynomial hash of every window of length L, modulo the Mersenne prime 2^61 - 1.
template <class T>
std::vector<std::uint64_t> window_hashes(std::span<const T> seq, std::size_t length) {
    constexpr std::uint64_t MOD = (std::uint64_t{1} << 61) - 1;
    constexpr std::uint64_t BASE = 0x1F3D5B79A2C4E681ull % MOD;
    auto mul = [](std::uint64_t a, std::uint64_t b) {
        unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
        std::uint64_t r = static_cast<std::uint64_t>(p & MOD) + static_cast<std::uint64_t>(p >> 61);
        return r >= MOD ? r - MOD : r;
    };
    auto add = [](std::uint64_t a, std::uint64_t b) {
        std::uint64_t r = a + b;
        return r >= MOD ? r - MOD : r;
    };
    const std::size_t windows = seq.size() - length + 1;
    std::vector<std::uint64_t> hashes(windows);
    std::uint64_t top = 1;  // BASE^(L-1)
    for (std::size_t i = 1; i < length; ++i) top = mul(top, BASE);
    std::uint64_t h = 0;
    for (std::size_t i = 0; i < length; ++i) h = add(mul(h, BASE), static_cast<std::uint64_t>(seq[i]) + 1);
    hashes[0] = h;
    for (std::size_t j = 1; j < windows; ++j) {
        std::uint64_t out = mul(static_cast<std::uint64_t>(seq[j - 1]) + 1, top);
        h = add(h, MOD - out);
        h = add(mul(h, BASE), static_cast<std::uint64_t>(seq[j + length - 1]) + 1);
        hashes[j] = h;
    }
    return hashes;
}

}  // namespace detail

// All candidates of one fragment length L, each window grouped by content.
// O((n - L + 1) * L) element reads at worst (content is confirmed on every hash match).
template <class T>
std::vector<FragmentCandidate> candidates_of_length(std::span<const T> seq, std::uint64_t times, std::size_t length) {
    const std::vector<std::uint64_t> hashes = detail::window_hashes(seq, length);
    // Position lists of the distinct windows, in order of first occurrence; equal
    // hashes are confirmed by comparing content, so a collision never merges two.
    std::vector<std::vector<std::uint64_t>> groups;
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> by_hash;
    by_hash.reserve(hashes.size());
    for (std::size_t j = 0; j < hashes.size(); ++j) {
        std::vector<std::size_t>& bucket = by_hash[hashes[j]];
        bool placed = false;
        for (std::size_t g : bucket) {
            const std::uint64_t first = groups[g].front();
            if (std::memcmp(seq.data() + first, seq.data() + j, length * sizeof(T)) == 0) {
                groups[g].push_back(j);
                placed = true;
                break;
            }
        }
        if (!placed) {
            bucket.push_back(groups.size());
            groups.push_back({j});
        }
    }
    std::vector<FragmentCandidate> out;
    for (const std::vector<std::uint64_t>& positions : groups) {
        if (positions.size() < times) continue;  // cannot reach `times` whatever the overlaps
        std::vector<FragmentInterval> chosen;
        chosen.reserve(positions.size());
        std::uint64_t last_end = 0;
        for (std::uint64_t p : positions) {
            if (p >= last_end) {
                chosen.push_back({p, p + length});
                last_end = p + length;
            }
        }
        if (chosen.size() < times) continue;
        const std::uint64_t k = chosen.size();
        out.push_back({k * length, length, k, std::move(chosen)});
    }
    return out;
}

// Every candidate of every admissible length 1..floor(n / times), lengths on
// the worker pool, joined in ascending length.
template <class T>
std::vector<FragmentCandidate> enumerate_candidates(std::span<const T> seq, std::uint64_t times) {
    const std::size_t longest = static_cast<std::size_t>(seq.size() / times);
    std::vector<std::vector<FragmentCandidate>> per_length(longest);
    pool::run_tasks(longest, [&](std::size_t i) { per_length[i] = candidates_of_length(seq, times, i + 1); });
    std::size_t total = 0;
    for (const auto& list : per_length) total += list.size();
    std::vector<FragmentCandidate> all;
    all.reserve(total);
    for (auto& list : per_length) {
        for (FragmentCandidate& c : list) all.push_back(std::move(c));
        list = {};
    }
    return all;
}

// Sorts into rank order: pieces sorted on the pool, then merged pairwise.
inline void rank_candidates(std::vector<FragmentCandidate>& candidates) {
    constexpr std::size_t SEQUENTIAL_BELOW = 1 << 14;
    const std::size_t n = candidates.size();
    if (n < SEQUENTIAL_BELOW) {
        std::sort(candidates.begin(), candidates.end(), ranks_before);
        return;
    }
    // The key is a total order (first-occurrence starts differ between fragments
    // of one length), so any division of the work gives the same result.
    std::size_t pieces = pool::piece_count(n);
    std::vector<std::size_t> bounds(pieces + 1);
    for (std::size_t p = 0; p < pieces; ++p) bounds[p] = pool::piece_range(n, pieces, p).first;
    bounds[pieces] = n;
    auto at = [&](std::size_t i) { return candidates.begin() + static_cast<std::ptrdiff_t>(i); };
    pool::run_tasks(pieces, [&](std::size_t p) { std::sort(at(bounds[p]), at(bounds[p + 1]), ranks_before); });
    for (std::size_t width = 1; width < pieces; width *= 2) {
        std::size_t merges = (pieces + 2 * width - 1) / (2 * width);
        pool::run_tasks(merges, [&](std::size_t m) {
            std::size_t lo = m * 2 * width, mid = std::min(lo + width, pieces), hi = std::min(lo + 2 * width, pieces);
            if (mid < hi) std::inplace_merge(at(bounds[lo]), at(bounds[mid]), at(bounds[hi]), ranks_before);
        });
    }
}

inline std::vector<Fragment> select_fragments(std::vector<FragmentCandidate>&& candidates, std::uint64_t n,
                                       std::uint64_t count, bool global_non_overlap) {
    std::vector<FragmentCandidate> ranked = std::move(candidates);
    std::vector<Fragment> result;
    result.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(count, ranked.size())));
    std::vector<std::uint8_t> taken;
    if (global_non_overlap) taken.assign(static_cast<std::size_t>(n), 0);
    for (FragmentCandidate& candidate : ranked) {
        if (result.size() >= count) break;
        if (global_non_overlap) {
            bool free = true;
            for (const FragmentInterval& iv : candidate.occurrences) {
                for (std::uint64_t p = iv.start; p < iv.end && free; ++p) free = taken[p] == 0;
                if (!free) break;
            }
            if (!free) {
                candidate.occurrences = {};
                continue;
            }
            for (const FragmentInterval& iv : candidate.occurrences) {
                std::memset(taken.data() + iv.start, 1, iv.end - iv.start);
            }
        }
        result.push_back({result.size(), std::move(candidate.occurrences)});
    }
    return result;
}

template <class T>
std::vector<Fragment> reference_find_fragments(std::span<const T> seq, std::uint64_t count,
                                                             std::uint64_t times, bool global_non_overlap) {
    const std::uint64_t n = seq.size();
    if (n == 0 || count == 0 || times == 0 || times > n) return {};
    std::vector<FragmentCandidate> candidates = enumerate_candidates(seq, times);
    rank_candidates(candidates);
    return select_fragments(std::move(candidates), n, count, global_non_overlap);
}

// Two results are the same when they list the same fragments in the same order,
// with the same ids and the same occurrences.
inline bool same_fragments(const std::vector<Fragment>& a, const std::vector<Fragment>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].id != b[i].id || a[i].occurrences.size() != b[i].occurrences.size()) return false;
        for (std::size_t k = 0; k < a[i].occurrences.size(); ++k) {
            if (a[i].occurrences[k].start != b[i].occurrences[k].start ||
                a[i].occurrences[k].end != b[i].occurrences[k].end) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace veltrane::reference
