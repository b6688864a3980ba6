// Yields the repeated fragments in exact rank order, lazily: a best-first walk
// over (node, range of lengths) items whose keys bound every fragment inside.
//
// Within one node the greedy count k(L) never rises as L grows, so a node's
// lengths fall into runs of equal k ("pieces"); the walk finds the runs it
// needs by bisection and emits a piece's lengths longest first. An item's
// key (covered bound, longest length, count bound, -first start) is never
// below the key of any fragment it holds, so an item that reaches the top with
// an exact key is the next fragment of the ranking.
#pragma once

#include <algorithm>
#include <cstdint>
#include <queue>
#include <vector>

#include "pool/cancel.hpp"
#include "strings/frag/occurrences.hpp"
#include "strings/frag/repeat_nodes.hpp"

namespace veltrane::strings::frag {

// One fragment of the ranking: the node's fragment at `length`, with `count`
// greedy occurrences.
template <class I>
struct RankedFragment {
    I node;
    I length;
    std::uint64_t count;
};

template <class I>
class RankedWalk {
public:
    RankedWalk(const std::vector<RepeatNode<I>>& nodes, const OccurrenceChooser<I>& chooser, std::uint64_t times)
        : nodes_(nodes), chooser_(chooser), times_(times) {
        std::vector<Item> items;
        items.reserve(nodes.size());
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            const RepeatNode<I>& node = nodes[i];
            Item item{0, node.longest, node.shortest, node.positions(), 0, static_cast<I>(i), node.minpos, false};
            if (node.positions() == 1) item.known_a = true, item.k_lo = 1;  // a single position: k = 1 throughout
            settle(item);
            items.push_back(item);
        }
        heap_ = Heap(Order{}, std::move(items));
    }

    // The next fragment of the ranking, or false when there is none. The
    // fragments come in rank order: covered length, length and count
    // descending, then the earlier first occurrence.
    bool next(RankedFragment<I>& out) {
        while (!heap_.empty()) {
            pool::checkpoint();
            Item item = heap_.top();
            heap_.pop();
            if (limit_) {
                if (!apply_limit(item)) continue;
            }
            if (exact(item)) {
                out = {item.node, item.b, item.k_hi};
                if (item.a < item.b) {
                    --item.b;
                    settle(item);
                    heap_.push(item);
                }
                return true;
            }
            refine(item);
        }
        return false;
    }

    // Installs a rule that caps the lengths still worth yielding; the walk asks
    // it, for a node and a count, for the longest length that could still be
    // used (0: none). The cap may only shrink over time.
    template <class Limit>
    void set_limit(Limit* limit) {
        limit_ = [](void* self, const RepeatNode<I>& node, std::uint64_t k) -> std::uint64_t {
            return (*static_cast<Limit*>(self))(node, k);
        };
        limit_context_ = limit;
    }

private:
    struct Item {
        std::uint64_t cover;  // bound on (exactly, when exact) k(L) * L inside
        I b, a;               // lengths [a, b]
        I k_hi;               // k(a) when known_a, else a bound on it
        I k_lo;               // k(b) when known, else 0
        I node;
        I minpos;
        bool known_a;
    };

    // The item that ranks higher is "greater" for the heap.
    struct Order {
        bool operator()(const Item& x, const Item& y) const {
            if (x.cover != y.cover) return x.cover < y.cover;
            if (x.b != y.b) return x.b < y.b;
            if (x.k_hi != y.k_hi) return x.k_hi < y.k_hi;
            if (x.minpos != y.minpos) return x.minpos > y.minpos;
            return exact(x) && !exact(y);  // an item still to be refined goes first
        }
    };
    using Heap = std::priority_queue<Item, std::vector<Item>, Order>;

    static bool exact(const Item& item) { return item.known_a && item.k_lo == item.k_hi; }

    // Tightens the count bound and computes the key from what is known.
    void settle(Item& item) const {
        const RepeatNode<I>& node = nodes_[item.node];
        if (exact(item)) {
            item.cover = std::uint64_t{item.k_hi} * item.b;
            return;
        }
        const std::uint64_t spread = node.spread();
        const std::uint64_t fit = spread / item.a + 1;
        if (!item.known_a && fit < item.k_hi) item.k_hi = static_cast<I>(fit);
        // k(L) * L <= (spread / L + 1) * L <= spread + L. The product of the two
        // bounds can pass 2^64 on inputs above 4 Gi elements; the minimum cannot.
        const unsigned __int128 by_count = static_cast<unsigned __int128>(item.k_hi) * item.b;
        item.cover = static_cast<std::uint64_t>(std::min<unsigned __int128>(by_count, spread + item.b));
    }

    std::uint64_t count_at(const Item& item, I length) {
        return chooser_.choose(nodes_[item.node], length, nullptr, scratch_);
    }

    // Evaluates the ends of a non-exact item and pushes what is left of it.
    void refine(Item item) {
        if (!item.known_a) {
            const std::uint64_t ka = count_at(item, item.a);
            if (ka < times_) return;  // every longer length has no more occurrences
            item.k_hi = static_cast<I>(ka);
            item.known_a = true;
        }
        if (item.a == item.b) item.k_lo = item.k_hi;
        if (item.k_lo == 0) item.k_lo = static_cast<I>(count_at(item, item.b));
        if (item.k_lo != item.k_hi) {
            // Two halves: the left keeps k(a), the right keeps k(b) and bounds
            // its own first count by k(a) until it is evaluated.
            const I mid = item.a + (item.b - item.a) / 2;
            Item right = item;
            right.a = mid + 1;
            right.known_a = false;
            item.b = mid;
            item.k_lo = 0;
            if (item.a == item.b) item.k_lo = item.k_hi;
            settle(right);
            heap_.push(right);
        }
        settle(item);
        heap_.push(item);
    }

    // Applies the installed cap; false when nothing of the item is left.
    // A capped item goes back into the heap with its lower key.
    bool apply_limit(Item& item) {
        const std::uint64_t cap = limit_(limit_context_, nodes_[item.node], exact(item) ? item.k_hi : times_);
        if (cap >= item.b) return true;
        if (cap < item.a) return false;
        item.b = static_cast<I>(cap);
        if (!exact(item)) item.k_lo = 0;
        if (item.known_a && item.a == item.b) item.k_lo = item.k_hi;
        settle(item);
        heap_.push(item);
        return false;
    }

    const std::vector<RepeatNode<I>>& nodes_;
    const OccurrenceChooser<I>& chooser_;
    std::uint64_t times_;
    Heap heap_;
    std::vector<I> scratch_;
    std::uint64_t (*limit_)(void*, const RepeatNode<I>&, std::uint64_t) = nullptr;
    void* limit_context_ = nullptr;
};

}  // namespace veltrane::strings::frag
