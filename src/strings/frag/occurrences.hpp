// Greedy left-to-right choice of non-overlapping occurrences of one fragment
// (a repeat node at one length), from the node's position set.
#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "pool/cancel.hpp"

#include "strings/frag/fragment.hpp"
#include "strings/frag/repeat_nodes.hpp"
#include "strings/frag/wavelet_matrix.hpp"

namespace veltrane::strings::frag {

// A caller's working copies of the starts of the last few nodes counted,
// sorted: the next count is often of the same rows (a walk evaluates both ends
// of an item and comes back to a node's other halves, a filter asks for the
// next length).
template <class I>
class SortedStarts {
public:
    // The sorted starts of rows [lb, rb] of `sa`.
    const std::vector<I>& of(const I* sa, std::size_t lb, std::size_t rb) {
        ++clock_;
        Entry* victim = &entries_[0];
        for (Entry& e : entries_) {
            if (e.lb == lb && e.rb == rb) {
                e.used = clock_;
                return e.starts;
            }
            if (e.used < victim->used) victim = &e;
        }
        victim->starts.assign(sa + lb, sa + rb + 1);
        sort_starts(victim->starts);
        victim->lb = lb;
        victim->rb = rb;
        victim->used = clock_;
        return victim->starts;
    }

    static constexpr std::size_t RADIX_FROM = 4096;

private:
    // Sorts distinct starts ascending. From RADIX_FROM starts on, by 11-bit
    // digits, least significant first (three passes below 2^33): a binary's
    // largest nodes hold millions of starts, where a comparison sort costs
    // several times as much.
    void sort_starts(std::vector<I>& starts) {
        if (starts.size() < RADIX_FROM) {
            std::sort(starts.begin(), starts.end());
            return;
        }
        constexpr unsigned DIGIT = 11;
        constexpr std::size_t MASK = (std::size_t{1} << DIGIT) - 1;
        const unsigned bits = static_cast<unsigned>(std::bit_width(*std::max_element(starts.begin(), starts.end())));
        spare_.resize(starts.size());
        for (unsigned shift = 0; shift < bits; shift += DIGIT) {
            pool::checkpoint();
            std::size_t slots[MASK + 1] = {};
            for (I p : starts) ++slots[(p >> shift) & MASK];
            std::size_t next = 0;
            for (std::size_t& slot : slots) next += std::exchange(slot, next);
            for (I p : starts) spare_[slots[(p >> shift) & MASK]++] = p;
            starts.swap(spare_);
        }
    }

    struct Entry {
        std::vector<I> starts;
        std::size_t lb = 1, rb = 0;  // the rows they are of; none yet
        std::uint64_t used = 0;
    };
    Entry entries_[4];
    std::vector<I> spare_;  // the other half of a digit pass
    std::uint64_t clock_ = 0;
};

template <class I>
class OccurrenceChooser {
public:
    OccurrenceChooser(const I* sa, std::size_t n) : sa_(sa), n_(n), sort_budget_(2 * std::uint64_t{n} + 4096) {}

    // The successor structure over the suffix array, built on first need.
    const WaveletMatrix<I>& starts() const {
        std::call_once(built_, [&] {
            starts_ = WaveletMatrix<I>(sa_, n_, std::max(1u, static_cast<unsigned>(std::bit_width(n_ - 1))));
            ready_.store(true, std::memory_order_release);
        });
        return starts_;
    }

    // The number of occurrences the greedy choice takes at `length`; appends
    // them to `out` when it is given. The first position is always taken and
    // every next one is the first start at or after the previous end.
    // O(k log n) through the wavelet matrix, or O(p log p) for small sets.
    std::uint64_t choose(const RepeatNode<I>& node, I length, std::vector<FragmentInterval>* out,
                         SortedStarts<I>& scratch) const {
        if (!out) return choose_each(node, length, UINT64_MAX, scratch, [](std::uint64_t) {});
        return choose_each(node, length, UINT64_MAX, scratch,
                           [&](std::uint64_t p) { out->push_back({p, p + length}); });
    }

    // The same choice, stopped after `limit` occurrences (the count is then
    // `limit`); hands every chosen start to emit(start), in ascending order.
    template <class Emit>
    std::uint64_t choose_each(const RepeatNode<I>& node, I length, std::uint64_t limit, SortedStarts<I>& scratch,
                              Emit&& emit) const {
        if (limit == 0) return 0;
        const std::uint64_t positions = node.positions();
        const std::uint64_t most = std::min<std::uint64_t>({positions, std::uint64_t{node.spread()} / length + 1, limit});
        // Sorting a small set beats log-time searches; so does a set that is
        // mostly taken anyway. Large sets are sorted too until the sorting has
        // cost about two passes over the input: the successor structure costs
        // a pass per bit of a position to build, and many searches (random
        // data, a binary's top fragments) need only a handful of large sets.
        bool sort = positions <= 128 || positions <= 4 * most;
        if (!sort && !ready_.load(std::memory_order_acquire)) {
            sort = sorted_.fetch_add(positions, std::memory_order_relaxed) + positions <= sort_budget_;
        }
        if (sort) {
            std::uint64_t k = 0, next_free = 0;
            for (I p : scratch.of(sa_, node.lb, node.rb)) {
                if (p < next_free) continue;
                emit(std::uint64_t{p});
                next_free = std::uint64_t{p} + length;
                if (++k == limit) break;
            }
            return k;
        }
        const WaveletMatrix<I>& wavelet = starts();
        std::uint64_t k = 0;
        std::uint64_t p = node.minpos;
        for (;;) {
            emit(p);
            if (++k == limit) break;
            if ((k & 0xFFF) == 0) pool::checkpoint();
            const std::uint64_t next = p + length;
            if (next > node.maxpos) break;
            const I found = wavelet.next_value(node.lb, std::size_t{node.rb} + 1, static_cast<I>(next));
            if (found == WaveletMatrix<I>::NONE) break;
            p = found;
        }
        return k;
    }

private:
    const I* sa_;
    std::size_t n_;
    std::uint64_t sort_budget_;  // positions large sets may have sorted before the structure is built
    mutable std::atomic<std::uint64_t> sorted_{0};
    mutable std::atomic<bool> ready_{false};
    mutable std::once_flag built_;
    mutable WaveletMatrix<I> starts_;
};

}  // namespace veltrane::strings::frag
