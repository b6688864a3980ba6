// The common prefix lengths of neighbouring suffixes, by comparing their text
// directly: shared by the byte and the packed-bit suffix sorts of the tuple counts.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "pool/cancel.hpp"
#include "pool/pool.hpp"
#include "util/big_array.hpp"

namespace veltrane::sp800_90b {

// n lengths of 0.
inline util::BigArray<std::uint8_t> zeroed_lengths(std::uint64_t n) {
    util::BigArray<std::uint8_t> small(n);
    std::fill(small.begin(), small.end(), std::uint8_t{0});
    return small;
}

// Lengths in suffix order, one byte each (small[i]: suffixes i-1 and i);
// 255 and more live in a side list in order.
template <class I>
struct CompactPrefixes {
    static constexpr std::uint8_t LARGE = 255;
    // A mapping of its own when large, so that its memory goes back to the
    // system when it is dropped, not to the allocating thread's heap, where
    // the next estimator, on another thread, could not reuse it.
    util::BigArray<std::uint8_t> small;
    std::vector<std::pair<I, I>> large;  // (suffix-order position, length)
    std::uint64_t longest = 0;
};

// Direct comparison costs the prefix lengths themselves: small on varied data
// (a few words per neighbour), quadratic on repetitive data. Each piece of the
// suffix array gets a budget of words and of large lengths; past either the
// whole attempt is dropped (having spent O(n)) for the linear method.
inline constexpr std::uint64_t WORDS_PER_NEIGHBOUR = 16;
inline constexpr std::uint64_t NEIGHBOURS_PER_LARGE = 64;

// `common_prefix(a, b, words)`: the common prefix length of the suffixes at a
// and b, adding the words it compared to `words`. On the pool.
template <class I, class CommonPrefix>
std::optional<CompactPrefixes<I>> compare_neighbours(std::uint64_t n, const I* sa, CommonPrefix&& common_prefix) {
    CompactPrefixes<I> out;
    out.small = zeroed_lengths(n);
    if (n < 2) return out;
    const std::size_t pieces = pool::piece_count(n - 1);
    std::vector<std::vector<std::pair<I, I>>> large(pieces);
    std::vector<std::uint64_t> longest(pieces, 0);
    std::atomic<bool> too_costly{false};
    pool::run_tasks(pieces, [&](std::size_t p) {
        auto [begin, end] = pool::piece_range(n - 1, pieces, p);
        const std::uint64_t word_budget = WORDS_PER_NEIGHBOUR * (end - begin) + 1024;
        const std::uint64_t large_budget = (end - begin) / NEIGHBOURS_PER_LARGE + 16;
        std::uint64_t words = 0, top = 0;
        for (std::size_t i = begin + 1; i <= end; ++i) {
            if ((i & 0xFFF) == 0) {
                pool::checkpoint();
                if (too_costly.load(std::memory_order_relaxed)) return;
            }
            const std::uint64_t l = common_prefix(sa[i - 1], sa[i], words);
            top = std::max(top, l);
            if (l < CompactPrefixes<I>::LARGE) {
                out.small[i] = static_cast<std::uint8_t>(l);
            } else {
                out.small[i] = CompactPrefixes<I>::LARGE;
                large[p].emplace_back(static_cast<I>(i), static_cast<I>(l));
            }
            if (words > word_budget || large[p].size() > large_budget) {
                too_costly.store(true, std::memory_order_relaxed);
                return;
            }
        }
        longest[p] = top;
    });
    if (too_costly.load()) return std::nullopt;
    std::size_t total = 0;
    for (const auto& part : large) total += part.size();
    out.large.reserve(total);
    for (auto& part : large) {
        out.large.insert(out.large.end(), part.begin(), part.end());
        std::vector<std::pair<I, I>>().swap(part);
    }
    out.longest = *std::max_element(longest.begin(), longest.end());
    return out;
}

}  // namespace veltrane::sp800_90b
