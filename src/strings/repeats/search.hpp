// The repeats search: the fragments people act on. Every fragment w with
// min_length <= |w| <= max_length and a greedy non-overlapping count
// g(w) >= min_count that passes the filters (maximal under g, not periodic,
// entropy at least min_entropy), ranked by savings or coverage, walked in rank
// order keeping at most `top`, with non_overlap leaving out whole any fragment
// that shares a position with one kept before it.
//
// It runs on the fragment search's machinery: the suffix array, the nodes of
// the LCP-interval tree, greedy counts through the wavelet matrix, the ranked
// walk (with this search's rank key and its filters as the walk's filter) and
// the taken-position tree. Families the filters reject are cut from the nodes
// before the walk where the node alone decides it: a node whose two first
// starts lie d apart holds a fragment of period d at every length >= 2d, so a
// run of one byte value of any length costs nothing.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <span>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "pool/cancel.hpp"
#include "pool/pool.hpp"
#include "strings/frag/occurrences.hpp"
#include "strings/frag/ranked_walk.hpp"
#include "strings/frag/repeat_nodes.hpp"
#include "strings/frag/same_preceding.hpp"
#include "strings/frag/search.hpp"
#include "strings/frag/suffix_array.hpp"
#include "strings/frag/taken_positions.hpp"
#include "strings/frag/wavelet_matrix.hpp"
#include "strings/repeats/filters.hpp"
#include "strings/repeats/node_maximality.hpp"
#include "strings/repeats/options.hpp"
#include "strings/repeats/result.hpp"
#include "util/big_array.hpp"

namespace veltrane::strings::repeats {

namespace detail {

// The index of a sequence of symbols: suffix array and the nodes that can hold
// a candidate, with their unclipped depths.
template <class I>
struct RepeatIndex {
    util::BigArray<I> sa;
    std::vector<frag::RepeatNode<I>> nodes;
    std::vector<I> depths;
};

// Sorts the suffixes of the symbols themselves.
struct SortSymbols {
    template <class S, class I>
    void operator()(const S* symbols, I n, I alphabet, I* sa) const {
        frag::sort_suffixes<S, I>(symbols, n, alphabet, sa);
    }
};

// Clips every node to the candidate lengths and cuts what the node alone rules
// out, counting each cut length once: lengths beyond the longest that can hold
// min_count non-overlapping occurrences, then periodic lengths, then lengths
// the node shows not maximal (node_maximality.hpp). `sort` fills
// the suffix array: any order in which the suffixes beginning with any one
// fragment of at least two occurrences lie side by side serves. A separator
// symbol joins sequences searched as one (frag/separator.hpp); it needs
// min_count >= 2, as a fragment that occurs once could run past one.
template <class I, class S, class Sort>
RepeatIndex<I> build_index(const S* symbols, I n, I alphabet, const Options& options, LeftOut& left_out,
                           const Sort& sort, std::uint64_t separator) {
    if (separator != frag::NO_SEPARATOR && options.min_count < 2) {
        throw std::invalid_argument("a search with a separator needs min_count >= 2");
    }
    RepeatIndex<I> index;
    index.sa = util::BigArray<I>(n);
    sort(symbols, n, alphabet, index.sa.data());
    const std::uint64_t times = options.min_count;
    const std::uint64_t shortest = options.min_length;
    const std::uint64_t longest = std::min<std::uint64_t>(options.max_length.value_or(n), n);
    const std::uint64_t longest_fit = n / times;
    {
        const util::BigArray<I> plcp = frag::build_text_order_lcp<S, I>(symbols, n, index.sa.data(), separator);
        frag::reserve_for_intervals(index.nodes, n, times == 1);
        frag::reserve_for_intervals(index.depths, n, times == 1);
        const frag::SamePreceding same_preceding =
            options.maximal ? frag::SamePreceding(symbols, n, index.sa.data(), separator) : frag::SamePreceding();
        frag::scan_lcp_intervals<I>(
            index.sa.data(), plcp.data(), n, times == 1, [&](frag::RepeatNode<I> node, I depth, I second) {
                if (node.positions() < times) return;
                std::uint64_t lo = std::max<std::uint64_t>(node.shortest, shortest);
                std::uint64_t hi = std::min<std::uint64_t>(node.longest, longest);
                if (lo > hi) return;
                // k non-overlapping occurrences of length L need k * L <= n and (k - 1) * L <= spread.
                std::uint64_t fit = longest_fit;
                if (times == 2) {
                    fit = std::min<std::uint64_t>(fit, node.spread());
                } else if (times > 2) {
                    fit = std::min<std::uint64_t>(fit, node.spread() / (times - 1));
                }
                if (fit < hi) {
                    const std::uint64_t cut_from = std::max(fit + 1, lo);
                    left_out.few_non_overlapping += hi - cut_from + 1;
                    hi = cut_from - 1;
                }
                if (options.exclude_periodic && second != frag::NO_SECOND<I> && lo <= hi) {
                    const std::uint64_t period = second - node.minpos;
                    if (2 * period <= hi) {
                        const std::uint64_t cut_from = std::max(2 * period, lo);
                        left_out.periodic += hi - cut_from + 1;
                        hi = cut_from - 1;
                    }
                }
                if (lo > hi) return;
                if (options.maximal &&
                    !cut_by_node(index.sa.data(), same_preceding, node, longest, lo, hi, left_out.not_maximal)) {
                    return;
                }
                node.shortest = static_cast<I>(lo);
                node.longest = static_cast<I>(hi);
                index.nodes.push_back(node);
                index.depths.push_back(depth);
            });
    }
    return index;
}

// Appends one kept fragment's columns; its starts are added by the caller.
template <class Rank>
void add_fragment(RepeatsResult& result, std::uint64_t length, std::uint64_t count, std::uint64_t first,
                  std::uint64_t stored) {
    result.lengths.push_back(length);
    result.counts.push_back(count);
    result.firsts.push_back(first);
    result.scores.push_back(Rank::score(count, length));
    result.offsets.push_back(result.offsets.back() + stored);
    result.truncated.push_back(stored < count ? 1 : 0);
}

template <class I, class S, class Rank, class Sort>
RepeatsResult search_symbols(const S* symbols, I n, I alphabet, const Options& options, const Sort& sort,
                             std::uint64_t separator) {
    RepeatsResult result;
    const RepeatIndex<I> index = build_index<I, S>(symbols, n, alphabet, options, result.left_out, sort, separator);
    const frag::OccurrenceChooser<I> chooser(index.sa.data(), n);
    frag::RankedWalk<I, Rank> walk(index.nodes, chooser, options.min_count);
    FragmentFilters<I, S> filters(symbols, n, alphabet, index.sa.data(), index.nodes, index.depths, chooser, options,
                                  result.left_out, separator);
    if (filters.active()) walk.set_filter(&filters);
    const std::uint64_t top = options.top.value_or(UINT64_MAX);
    const std::uint64_t max_starts = options.max_starts.value_or(UINT64_MAX);
    frag::RankedFragment<I> next;

    if (!options.non_overlap) {
        std::vector<frag::RankedFragment<I>> ranked;
        while (ranked.size() < top && walk.next(next)) ranked.push_back(next);
        for (const frag::RankedFragment<I>& f : ranked) {
            add_fragment<Rank>(result, f.length, f.count, index.nodes[f.node].minpos, std::min(f.count, max_starts));
        }
        // The fragments' starts are independent: listed on the pool, unless
        // there are too few for the hand-over to pay.
        result.starts.resize(result.offsets.back());
        const std::size_t pieces = result.starts.size() < 65536 ? 1 : pool::piece_count(ranked.size());
        pool::run_tasks(pieces, [&](std::size_t piece) {
            auto [begin, end] = pool::piece_range(ranked.size(), pieces, piece);
            frag::SortedStarts<I> scratch;
            for (std::size_t i = begin; i < end; ++i) {
                pool::checkpoint();
                std::uint64_t* out = result.starts.data() + result.offsets[i];
                chooser.choose_each(index.nodes[ranked[i].node], ranked[i].length, max_starts, scratch,
                                    [&](std::uint64_t p) { *out++ = p; });
            }
        });
    } else {
        // As in the fragment search: a fragment's first occurrence is always
        // chosen, so it must be free, and k occurrences of length L need k * L
        // free positions; once fewer than min_count * min_length are free no
        // fragment can be kept.
        frag::TakenPositions taken(n);
        auto cap = [&](const frag::RepeatNode<I>& node, std::uint64_t k) -> std::uint64_t {
            const std::uint64_t first_taken = taken.next_taken(node.minpos);
            return std::min(first_taken - node.minpos, taken.free_count() / k);
        };
        walk.set_limit(&cap);
        const unsigned __int128 needed = static_cast<unsigned __int128>(options.min_count) * options.min_length;
        std::vector<I> occurrences;
        frag::SortedStarts<I> scratch;
        while (result.size() < top && taken.free_count() >= needed && walk.next(next)) {
            occurrences.clear();
            chooser.choose_each(index.nodes[next.node], next.length, UINT64_MAX, scratch,
                                [&](std::uint64_t p) { occurrences.push_back(static_cast<I>(p)); });
            const bool free = std::none_of(occurrences.begin(), occurrences.end(),
                                           [&](I p) { return taken.any_taken(p, std::uint64_t{p} + next.length); });
            if (!free) continue;
            for (I p : occurrences) taken.take(p, std::uint64_t{p} + next.length);
            const std::uint64_t stored = std::min<std::uint64_t>(occurrences.size(), max_starts);
            add_fragment<Rank>(result, next.length, next.count, occurrences.front(), stored);
            result.starts.insert(result.starts.end(), occurrences.begin(),
                                 occurrences.begin() + static_cast<std::ptrdiff_t>(stored));
        }
    }
    result.left_out.few_non_overlapping += walk.dropped_for_count();
    return result;
}

template <class I, class S, class Sort = SortSymbols>
RepeatsResult search_ranked(const S* symbols, I n, I alphabet, const Options& options, const Sort& sort = {},
                            std::uint64_t separator = frag::NO_SEPARATOR) {
    if (options.rank == Rank::savings) {
        return search_symbols<I, S, frag::SavingsRank>(symbols, n, alphabet, options, sort, separator);
    }
    return search_symbols<I, S, frag::CoverageRank>(symbols, n, alphabet, options, sort, separator);
}

// The search with I-bit positions (the caller checks that n fits).
template <class I, class T>
RepeatsResult repeats_with_index(std::span<const T> seq, const Options& options) {
    const I n = static_cast<I>(seq.size());
    if constexpr (sizeof(T) == 1) {
        return search_ranked<I, std::uint8_t>(reinterpret_cast<const std::uint8_t*>(seq.data()), n, 256, options);
    } else {
        I alphabet = 0;
        std::vector<I> ranks = frag::detail::element_ranks(seq, alphabet);
        if (alphabet <= 256) {
            const std::vector<std::uint8_t> bytes = frag::detail::narrow_ranks(std::move(ranks));
            return search_ranked<I, std::uint8_t>(bytes.data(), n, alphabet, options);
        }
        return search_ranked<I, I>(ranks.data(), n, alphabet, options);
    }
}

}  // namespace detail

// The repeats of `seq` (bytes, or code points of a text) under `options`.
// Throws std::invalid_argument for an option outside its domain (see
// validate), std::bad_alloc when memory runs out, pool::Cancelled when
// interrupted. O(n) to index the sequence, then about O(log n) per
// occurrence looked at.
template <class T>
RepeatsResult find_repeats(std::span<const T> seq, const Options& options) {
    static_assert(std::is_unsigned_v<T>);
    validate(options);
    const std::uint64_t n = seq.size();
    if (n == 0 || options.top == std::uint64_t{0} || options.min_count > n || options.min_length > n) return {};
    if (n < std::numeric_limits<std::uint32_t>::max() - 1) {
        return detail::repeats_with_index<std::uint32_t>(seq, options);
    }
    return detail::repeats_with_index<std::uint64_t>(seq, options);
}

}  // namespace veltrane::strings::repeats
