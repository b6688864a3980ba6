// What a node of the LCP-interval tree alone says about maximality under the
// greedy count, before the walk: on inputs made of whole copies (the same file
// in many places, a block pasted k times) nearly every node is the copy seen
// from a later start, and cutting it here spares the walk and its heap.
//
// Let g be the smallest distance between two of the node's starts. A length
// L <= g keeps every start as a greedy occurrence, so:
// - when every length left is <= g, the count is the same at all of them and
//   each length below the longest extends to the next with that count (the
//   node's own fragment one longer): only the longest can be maximal;
// - when, besides, every start follows the same element (none starts the
//   sequence) and L + 1 <= g, the extension by that element to the left
//   starts one before each start, keeps all of them too, and w is not maximal.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "strings/frag/repeat_nodes.hpp"
#include "strings/frag/same_preceding.hpp"

namespace veltrane::strings::repeats {

// Nodes with more starts are left to the walk: sorting them would cost more
// than it saves, and on real inputs few nodes are that wide.
inline constexpr std::uint64_t GAP_ROWS = 32;

// The smallest distance between two starts of a node of at most GAP_ROWS rows.
template <class I>
std::uint64_t smallest_gap(const I* sa, const frag::RepeatNode<I>& node) {
    if (node.positions() == 2) return node.spread();
    std::array<I, GAP_ROWS> starts;
    const std::size_t k = node.positions();
    std::copy(sa + node.lb, sa + node.rb + 1, starts.begin());
    std::sort(starts.begin(), starts.begin() + static_cast<std::ptrdiff_t>(k));
    std::uint64_t gap = UINT64_MAX;
    for (std::size_t i = 1; i < k; ++i) gap = std::min<std::uint64_t>(gap, starts[i] - starts[i - 1]);
    return gap;
}

// Narrows the node's lengths [lo, hi] by the rules above, adding each length
// cut to `not_maximal`; false when none is left. `longest` is the longest
// length searched: an extension beyond it does not count.
template <class I>
bool cut_by_node(const I* sa, const frag::SamePreceding& same_preceding, const frag::RepeatNode<I>& node,
                 std::uint64_t longest, std::uint64_t& lo, std::uint64_t& hi, std::uint64_t& not_maximal) {
    if (node.positions() < 2 || node.positions() > GAP_ROWS) return true;
    const bool same = same_preceding.all(node.lb, node.rb);
    // Two starts: the gap is the spread, known without sorting anything.
    if (!same && node.positions() > 2) return true;
    // The smallest gap is at most the mean one: no sort needed when that is short.
    if (node.spread() / (node.positions() - 1) < hi) return true;
    const std::uint64_t gap = smallest_gap(sa, node);
    if (hi > gap) return true;
    not_maximal += hi - lo;
    lo = hi;
    if (same && hi < gap && hi + 1 <= longest) {
        ++not_maximal;
        return false;
    }
    return true;
}

}  // namespace veltrane::strings::repeats
