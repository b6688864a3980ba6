// Yields the repeated fragments in exact rank order, lazily: a best-first walk
// over (node, range of lengths) items whose keys bound every fragment inside.
//
// Within one node the greedy count k(L) never rises as L grows, so a node's
// lengths fall into runs of equal k ("pieces"); the walk finds the runs it
// needs by bisection and emits a piece's lengths longest first. An item's
// key (score bound, longest length, count bound, -first start) is never
// below the key of any fragment it holds, so an item that reaches the top with
// an exact key is the next fragment of the ranking.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <vector>

#include "pool/cancel.hpp"
#include "strings/frag/occurrences.hpp"
#include "strings/frag/repeat_nodes.hpp"

namespace veltrane::strings::frag {

// The rank keys. A fragment of length L with k greedy occurrences scores
// score(k, L); bound(k_hi, b, spread) may not be exceeded by any fragment of
// a node whose first and last starts lie `spread` apart, with length <= b and
// count <= k_hi. Either way k occurrences of length L need (k - 1) * L <= spread.
struct CoverageRank {  // the elements the occurrences cover
    static std::uint64_t score(std::uint64_t k, std::uint64_t length) { return k * length; }
    static std::uint64_t bound(std::uint64_t k_hi, std::uint64_t b, std::uint64_t spread) {
        // The product can pass 2^64 on inputs above 4 Gi elements; the minimum cannot.
        const unsigned __int128 by_count = static_cast<unsigned __int128>(k_hi) * b;
        return static_cast<std::uint64_t>(std::min<unsigned __int128>(by_count, spread + b));
    }
};
struct SavingsRank {  // the elements saved by storing the fragment once
    static std::uint64_t score(std::uint64_t k, std::uint64_t length) { return (k - 1) * length; }
    static std::uint64_t bound(std::uint64_t k_hi, std::uint64_t b, std::uint64_t spread) {
        const unsigned __int128 by_count = static_cast<unsigned __int128>(k_hi - 1) * b;
        return static_cast<std::uint64_t>(std::min<unsigned __int128>(by_count, spread));
    }
};

// What a filter says about the top length b of an exact item (every length of
// it has the same count): whether b is yielded, the longest length below b
// still to be considered (the ones between are left out), and the shortest
// length from which on the lengths still to be considered are known to pass.
template <class I>
struct FilterDecision {
    bool yield;
    I next_b;
    I clean_from;
};

// One fragment of the ranking: the node's fragment at `length`, with `count`
// greedy occurrences.
template <class I>
struct RankedFragment {
    I node;
    I length;
    std::uint64_t count;
};

template <class I, class Rank = CoverageRank>
class RankedWalk {
public:
    static constexpr I UNKNOWN = std::numeric_limits<I>::max();

    // Items enter the heap in batches of descending key (see admit), the
    // first of at least `first_batch` items.
    RankedWalk(const std::vector<RepeatNode<I>>& nodes, const OccurrenceChooser<I>& chooser, std::uint64_t times,
               std::size_t first_batch = FIRST_BATCH)
        : nodes_(nodes), chooser_(chooser), times_(times), batch_(std::max<std::size_t>(first_batch, 1)) {
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            if ((i & 0xFFFF) == 0) pool::checkpoint();
            ++band_sizes_[band(initial_item(i).cover)];
        }
        admit();
    }

    // The next fragment of the ranking, or false when there is none. The
    // fragments come in rank order: score, length and count descending, then
    // the earlier first occurrence.
    bool next(RankedFragment<I>& out) {
        for (;;) {
            pool::checkpoint();
            // Every item still outside has a key below the lowest band admitted.
            while (bands_out_ > 0 && (heap_.empty() || band(heap_.front().cover) < bands_out_)) admit();
            if (heap_.empty()) return false;
            std::pop_heap(heap_.begin(), heap_.end(), Order{});
            Item item = heap_.back();
            heap_.pop_back();
            if (limit_) {
                if (!apply_limit(item)) continue;
            }
            if (exact(item)) {
                if (filter_ && item.b < item.clean) {
                    const FilterDecision<I> d = filter_(filter_context_, item.node, item.a, item.b, item.k_hi);
                    const I b = item.b;
                    if (d.next_b >= item.a) {
                        item.b = d.next_b;
                        item.clean = d.clean_from;
                        settle(item);
                        push(item);
                    }
                    if (!d.yield) continue;
                    out = {item.node, b, item.k_hi};
                    return true;
                }
                out = {item.node, item.b, item.k_hi};
                if (item.a < item.b) {
                    --item.b;
                    settle(item);
                    push(item);
                }
                return true;
            }
            refine(item);
        }
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

    // Installs a filter, asked before an exact item yields a length it has not
    // cleared yet: filter(node, a, b, k) for the item's lengths [a, b] of count k.
    template <class Filter>
    void set_filter(Filter* filter) {
        filter_ = [](void* self, I node, I a, I b, std::uint64_t k) -> FilterDecision<I> {
            return (*static_cast<Filter*>(self))(node, a, b, k);
        };
        filter_context_ = filter;
    }

    // Lengths the walk dropped because they have fewer than `times` greedy
    // occurrences (each counted once).
    std::uint64_t dropped_for_count() const { return dropped_for_count_; }

private:
    struct Item {
        std::uint64_t cover;  // bound on (exactly, when exact) the score inside
        I b, a;               // lengths [a, b]
        I k_hi;               // k(a) when known_a, else a bound on it
        I k_lo;               // k(b) when known, else 0
        I node;
        I minpos;
        I clean;  // lengths >= clean passed the filter (exact items only)
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
    static bool exact(const Item& item) { return item.known_a && item.k_lo == item.k_hi; }

    void push(const Item& item) {
        heap_.push_back(item);
        std::push_heap(heap_.begin(), heap_.end(), Order{});
    }

    // A node's item before anything is known of its counts.
    Item initial_item(std::size_t i) const {
        const RepeatNode<I>& node = nodes_[i];
        Item item{0, node.longest, node.shortest, node.positions(), 0, static_cast<I>(i), node.minpos, UNKNOWN, false};
        if (node.positions() == 1) item.known_a = true, item.k_lo = 1;  // a single position: k = 1 throughout
        settle(item);
        return item;
    }

    // A search that keeps a few fragments pops a small share of the nodes'
    // items: a heap of all of them would cost more to build than the walk. So
    // the nodes' items are grouped into bands of key (16 per power of two,
    // ascending with the key) and admitted band by band from the highest:
    // while the top of the heap lies in an admitted band it ranks above every
    // item outside. Keys being distinct (no two live items share both their
    // node's first start and their longest length), the order is that of one
    // heap of everything. Each batch is at least 4 times the one before, so
    // a walk to the end costs a few passes over the nodes.
    static constexpr std::size_t FIRST_BATCH = 1 << 16;
    static constexpr unsigned BANDS = 16 + 60 * 16;

    static unsigned band(std::uint64_t key) {
        if (key < 16) return static_cast<unsigned>(key);
        const unsigned width = static_cast<unsigned>(std::bit_width(key));  // 5 to 64
        return 16 * (width - 4) + static_cast<unsigned>((key >> (width - 5)) & 15);
    }

    // Admits the next bands down to at least batch_ items (all, at the last).
    void admit() {
        std::size_t count = 0;
        unsigned lowest = bands_out_;
        while (lowest > 0 && count < batch_) count += band_sizes_[--lowest];
        if (count == 0) {  // only empty bands were left
            bands_out_ = 0;
            return;
        }
        heap_.reserve(heap_.size() + count);
        for (std::size_t i = 0; i < nodes_.size(); ++i) {
            if ((i & 0xFFFF) == 0) pool::checkpoint();
            Item item = initial_item(i);
            const unsigned b = band(item.cover);
            // The cap applies now as it would when the item comes out: on
            // inputs made of whole copies most items are dead by the time
            // their band comes in, and a heap without them is much smaller.
            if (b >= lowest && b < bands_out_ && (!limit_ || capped(item))) heap_.push_back(item);
        }
        std::make_heap(heap_.begin(), heap_.end(), Order{});
        bands_out_ = lowest;
        batch_ = 4 * std::max(batch_, count);
    }

    // Tightens the count bound and computes the key from what is known.
    void settle(Item& item) const {
        const RepeatNode<I>& node = nodes_[item.node];
        if (exact(item)) {
            item.cover = Rank::score(item.k_hi, item.b);
            return;
        }
        const std::uint64_t spread = node.spread();
        const std::uint64_t fit = spread / item.a + 1;
        if (!item.known_a && fit < item.k_hi) item.k_hi = static_cast<I>(fit);
        item.cover = Rank::bound(item.k_hi, item.b, spread);
    }

    std::uint64_t count_at(const Item& item, I length) {
        return chooser_.choose(nodes_[item.node], length, nullptr, scratch_);
    }

    // Evaluates the ends of a non-exact item and pushes what is left of it.
    void refine(Item item) {
        if (!item.known_a) {
            const std::uint64_t ka = count_at(item, item.a);
            if (ka < times_) {  // every longer length has no more occurrences
                dropped_for_count_ += std::uint64_t{item.b} - item.a + 1;
                return;
            }
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
            push(right);
        }
        settle(item);
        push(item);
    }

    // Applies the installed cap to the item; false when nothing of it is left.
    bool capped(Item& item) {
        const std::uint64_t cap = limit_(limit_context_, nodes_[item.node], exact(item) ? item.k_hi : times_);
        if (cap >= item.b) return true;
        if (cap < item.a) return false;
        item.b = static_cast<I>(cap);
        if (!exact(item)) item.k_lo = 0;
        if (item.known_a && item.a == item.b) item.k_lo = item.k_hi;
        settle(item);
        return true;
    }

    // Applies the cap to an item just out of the heap; false when it is not
    // to be used now: nothing is left, or it goes back with its lower key.
    bool apply_limit(Item& item) {
        const I b = item.b;
        if (!capped(item)) return false;
        if (item.b == b) return true;
        push(item);
        return false;
    }

    const std::vector<RepeatNode<I>>& nodes_;
    const OccurrenceChooser<I>& chooser_;
    std::uint64_t times_;
    std::vector<Item> heap_;  // a max-heap under Order
    std::size_t batch_;
    std::uint64_t band_sizes_[BANDS] = {};  // initial items per band of key
    unsigned bands_out_ = BANDS;            // bands [0, bands_out_) not admitted yet
    SortedStarts<I> scratch_;
    std::uint64_t (*limit_)(void*, const RepeatNode<I>&, std::uint64_t) = nullptr;
    void* limit_context_ = nullptr;
    FilterDecision<I> (*filter_)(void*, I, I, I, std::uint64_t) = nullptr;
    void* filter_context_ = nullptr;
    std::uint64_t dropped_for_count_ = 0;
};

}  // namespace veltrane::strings::frag
