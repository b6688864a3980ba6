// The repeated-fragment search: every contiguous fragment with at least `times`
// non-overlapping occurrences, ranked by the elements they cover, best `count` kept.
//
// Written once for every element width (bytes, UCS-2 and UCS-4 code units of a
// text); the logic never looks at an element beyond comparing it. All repeated
// fragments come from the suffix array of the sequence, grouped into the nodes
// of its LCP-interval tree, and a best-first walk yields them in rank order, so
// the cost follows the fragments returned (or examined, with global
// non-overlap) rather than the number of candidates.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <span>
#include <type_traits>
#include <vector>

#include "pool/cancel.hpp"
#include "pool/pool.hpp"
#include "strings/frag/fragment.hpp"
#include "strings/frag/occurrences.hpp"
#include "strings/frag/ranked_walk.hpp"
#include "strings/frag/repeat_nodes.hpp"
#include "strings/frag/suffix_array.hpp"
#include "strings/frag/taken_positions.hpp"
#include "strings/frag/wavelet_matrix.hpp"
#include "util/big_array.hpp"

namespace veltrane::strings::frag {

namespace detail {

// Replaces every element by the rank of its value among the distinct values,
// so the suffix sorting works on a dense alphabet of `alphabet` symbols.
// O(n + largest value) with a table when that is O(n), else O(n log n).
template <class T, class I>
std::vector<I> element_ranks(std::span<const T> seq, I& alphabet) {
    const std::uint64_t largest = *std::max_element(seq.begin(), seq.end());
    std::vector<I> ranks(seq.size());
    if (largest < std::max<std::uint64_t>(65536, 16 * std::uint64_t{seq.size()})) {
        std::vector<I> rank_of(static_cast<std::size_t>(largest) + 1, 0);
        for (T v : seq) rank_of[v] = 1;
        I next = 0;
        for (I& r : rank_of) r = r ? next++ : 0;
        alphabet = next;
        for (std::size_t i = 0; i < seq.size(); ++i) ranks[i] = rank_of[seq[i]];
        return ranks;
    }
    std::vector<T> values(seq.begin(), seq.end());
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    alphabet = static_cast<I>(values.size());
    for (std::size_t i = 0; i < seq.size(); ++i) {
        ranks[i] = static_cast<I>(std::lower_bound(values.begin(), values.end(), seq[i]) - values.begin());
    }
    return ranks;
}

// Ranks below 256 as bytes; the wide copy is released.
template <class I>
std::vector<std::uint8_t> narrow_ranks(std::vector<I>&& ranks) {
    std::vector<std::uint8_t> bytes(ranks.begin(), ranks.end());
    ranks = {};
    return bytes;
}

// Builds every fragment's occurrence list for a plain (not globally
// non-overlapping) result, on the worker pool; the fragments are independent.
template <class I>
std::vector<Fragment> build_fragments(const std::vector<RankedFragment<I>>& ranked,
                                      const std::vector<RepeatNode<I>>& nodes, const OccurrenceChooser<I>& chooser) {
    std::vector<Fragment> result(ranked.size());
    const std::size_t pieces = pool::piece_count(ranked.size());
    pool::run_tasks(pieces, [&](std::size_t piece) {
        auto [begin, end] = pool::piece_range(ranked.size(), pieces, piece);
        SortedStarts<I> scratch;
        for (std::size_t i = begin; i < end; ++i) {
            pool::checkpoint();
            result[i].id = i;
            result[i].occurrences.reserve(static_cast<std::size_t>(ranked[i].count));
            chooser.choose(nodes[ranked[i].node], ranked[i].length, &result[i].occurrences, scratch);
        }
    });
    return result;
}

template <class I, class S>
std::vector<Fragment> search_symbols(const S* symbols, I n, I alphabet, std::uint64_t count, std::uint64_t times,
                                     bool global_non_overlap) {
    util::BigArray<I> sa(n);
    sort_suffixes<S, I>(symbols, n, alphabet, sa.data());
    std::vector<RepeatNode<I>> nodes;
    {
        const util::BigArray<I> plcp = build_text_order_lcp<S, I>(symbols, n, sa.data());
        nodes = collect_repeat_nodes<I>(sa.data(), plcp.data(), n, times, static_cast<I>(n / times));
    }
    const OccurrenceChooser<I> chooser(sa.data(), n);
    RankedWalk<I> walk(nodes, chooser, times);
    RankedFragment<I> next;

    if (!global_non_overlap) {
        std::vector<RankedFragment<I>> ranked;
        while (ranked.size() < count && walk.next(next)) ranked.push_back(next);
        return build_fragments(ranked, nodes, chooser);
    }

    // Positions go to the fragments taken first; a fragment sharing any of
    // them is skipped whole. Two exact caps keep the walk away from fragments
    // that must fail: the first occurrence is always one of the chosen ones,
    // so it must be free; and k occurrences of length L need k * L free positions.
    TakenPositions taken(n);
    auto cap = [&](const RepeatNode<I>& node, std::uint64_t k) -> std::uint64_t {
        const std::uint64_t first_taken = taken.next_taken(node.minpos);
        return std::min(first_taken - node.minpos, taken.free_count() / k);
    };
    walk.set_limit(&cap);
    std::vector<Fragment> result;
    SortedStarts<I> scratch;
    while (result.size() < count && taken.free_count() >= times && walk.next(next)) {
        std::vector<FragmentInterval> occurrences;
        occurrences.reserve(static_cast<std::size_t>(next.count));
        chooser.choose(nodes[next.node], next.length, &occurrences, scratch);
        const bool free = std::none_of(occurrences.begin(), occurrences.end(), [&](const FragmentInterval& iv) {
            return taken.any_taken(iv.start, iv.end);
        });
        if (!free) continue;
        for (const FragmentInterval& iv : occurrences) taken.take(iv.start, iv.end);
        result.push_back({result.size(), std::move(occurrences)});
    }
    return result;
}

template <class I, class T>
std::vector<Fragment> search_with_index(std::span<const T> seq, std::uint64_t count, std::uint64_t times,
                                        bool global_non_overlap) {
    const I n = static_cast<I>(seq.size());
    if constexpr (sizeof(T) == 1) {
        return search_symbols<I, std::uint8_t>(reinterpret_cast<const std::uint8_t*>(seq.data()), n, 256, count,
                                               times, global_non_overlap);
    } else {
        I alphabet = 0;
        std::vector<I> ranks = element_ranks(seq, alphabet);
        if (alphabet <= 256) {
            // Few distinct values: their ranks are bytes, sorted by the byte path.
            const std::vector<std::uint8_t> bytes = narrow_ranks(std::move(ranks));
            return search_symbols<I, std::uint8_t>(bytes.data(), n, alphabet, count, times, global_non_overlap);
        }
        return search_symbols<I, I>(ranks.data(), n, alphabet, count, times, global_non_overlap);
    }
}

}  // namespace detail

// The result for (sequence, count, times, global_non_overlap): at most `count`
// fragments in rank order, each with its greedy occurrences.
// O(n) to index the sequence, then about O(log n) per occurrence looked at.
template <class T>
std::vector<Fragment> find_non_overlapping_fragments_generic(std::span<const T> seq, std::uint64_t count,
                                                             std::uint64_t times, bool global_non_overlap) {
    static_assert(std::is_unsigned_v<T>);
    const std::uint64_t n = seq.size();
    if (n == 0 || count == 0 || times == 0 || times > n) return {};
    // 32-bit positions halve the index for every input below 4 Gi elements.
    if (n < std::numeric_limits<std::uint32_t>::max() - 1) {
        return detail::search_with_index<std::uint32_t>(seq, count, times, global_non_overlap);
    }
    return detail::search_with_index<std::uint64_t>(seq, count, times, global_non_overlap);
}

}  // namespace veltrane::strings::frag
