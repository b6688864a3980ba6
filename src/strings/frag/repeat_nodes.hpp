// The repeated fragments of a sequence, grouped as the nodes of its LCP-interval
// tree: all fragments that start at the same set of positions, i.e. one node
// and a range of lengths, share one record.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "pool/cancel.hpp"

namespace veltrane::strings::frag {

// Rows [lb, rb] of the suffix array start with the same `longest` elements, and
// no wider row range does; for every length L in [shortest, longest] the
// fragments of length L at these positions are one and the same fragment, and
// it occurs nowhere else.
template <class I>
struct RepeatNode {
    I lb, rb;
    I shortest, longest;
    I minpos, maxpos;  // first and last start among the rows

    I positions() const { return rb - lb + 1; }
    I spread() const { return maxpos - minpos; }
};

// Every interval of the LCP-interval tree, bottom up (children before their
// parent), as visit(node, depth, second): the node with lengths
// [parent depth + 1, depth], and `second` the second smallest start among its
// rows. With `leaves`, each suffix also comes as a one-row interval (the
// fragments that occur once; `second` is then NO_SECOND). One stack scan over
// the LCP array, read in row order from the text-order one (plcp[sa[r]], see
// build_text_order_lcp): O(n) time.
template <class I>
inline constexpr I NO_SECOND = std::numeric_limits<I>::max();

template <class I, class Visit>
void scan_lcp_intervals(const I* sa, const I* plcp, I n, bool leaves, Visit&& visit) {
    // The reads of plcp are random; asking for them this many rows ahead
    // keeps several in flight while the stack work goes on.
    constexpr I AHEAD = 32;
    auto lcp = [&](I r) {
        if (n - r > AHEAD) __builtin_prefetch(plcp + sa[r + AHEAD]);
        return plcp[sa[r]];
    };
    // The two smallest starts of a set of rows, merged bottom up.
    struct Smallest {
        I first, second;
        void add(Smallest o) {
            if (o.first < first) {
                second = std::min(first, o.second);
                first = o.first;
            } else {
                second = std::min(second, o.first);
            }
        }
    };
    struct Open {
        I depth, lb, maxpos;
        Smallest smallest;
    };
    std::vector<Open> stack;
    stack.push_back({0, 0, 0, {n, NO_SECOND<I>}});
    for (I i = 1; i <= n; ++i) {
        if ((i & 0xFFFF) == 0) pool::checkpoint();
        const I h = i < n ? lcp(i) : 0;
        // The leaf of row i - 1 travels up as the last child of what closes here.
        I lb = i - 1, maxpos = sa[i - 1];
        Smallest smallest{sa[i - 1], NO_SECOND<I>};
        while (stack.back().depth > h) {
            Open open = stack.back();
            stack.pop_back();
            open.smallest.add(smallest);
            open.maxpos = std::max(open.maxpos, maxpos);
            const I parent_depth = std::max(h, stack.back().depth);
            visit(RepeatNode<I>{open.lb, i - 1, parent_depth + 1, open.depth, open.smallest.first, open.maxpos},
                  open.depth, open.smallest.second);
            lb = open.lb;
            smallest = open.smallest;
            maxpos = open.maxpos;
        }
        if (stack.back().depth < h) {
            stack.push_back({h, lb, maxpos, smallest});
        } else {
            stack.back().smallest.add(smallest);
            stack.back().maxpos = std::max(stack.back().maxpos, maxpos);
        }
    }
    if (leaves) {
        I right = lcp(0);
        for (I r = 0; r < n; ++r) {
            if ((r & 0xFFFF) == 0) pool::checkpoint();
            const I left = right;
            right = r + 1 < n ? lcp(r + 1) : 0;
            visit(RepeatNode<I>{r, r, std::max(left, right) + 1, n - sa[r], sa[r], sa[r]}, n - sa[r], NO_SECOND<I>);
        }
    }
}

// Capacity in `v` for every interval scan_lcp_intervals can report: at most
// n - 1 with two rows or more, and n leaves with `leaves`. Only address space:
// capacity never written takes no memory, and the vector is never copied while
// it fills. Where the system refuses that much address space it grows as usual.
template <class T>
void reserve_for_intervals(std::vector<T>& v, std::uint64_t n, bool leaves) {
    try {
        v.reserve(static_cast<std::size_t>(leaves ? 2 * n : n));
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
}

// The nodes that can hold a fragment of length <= `longest_length` with at
// least `times` non-overlapping occurrences. With `times` = 1 each suffix also
// contributes its own leaf (the fragments that occur once).
template <class I>
std::vector<RepeatNode<I>> collect_repeat_nodes(const I* sa, const I* plcp, I n, std::uint64_t times,
                                                I longest_length) {
    std::vector<RepeatNode<I>> nodes;
    reserve_for_intervals(nodes, n, times == 1);
    scan_lcp_intervals<I>(sa, plcp, n, times == 1, [&](RepeatNode<I> node, I, I) {
        node.longest = std::min(node.longest, longest_length);
        if (node.shortest > node.longest) return;
        if (node.positions() < times) return;
        // k non-overlapping occurrences of length L need (k - 1) * L <= spread.
        if (times >= 2) {
            const std::uint64_t fit = node.spread() / (times - 1);
            if (fit < node.shortest) return;
            if (fit < node.longest) node.longest = static_cast<I>(fit);
        }
        nodes.push_back(node);
    });
    return nodes;
}

}  // namespace veltrane::strings::frag
