// The tuple counts from the common prefix lengths of neighbouring suffixes in
// suffix order: the nested runs of neighbours sharing at least i symbols are
// the distinct repeated i-tuples (the lcp intervals), and one stack pass over
// the prefix lengths visits every such interval once. An interval of m
// suffixes sharing exactly `lcp` symbols, inside one sharing `parent`, is one
// distinct i-tuple occurring m times for every i in (parent, lcp].
//
// The pass can run over the whole suffix array, or over pieces of it whose
// suffixes share at least `floor` symbols (the tuples of `floor` symbols or
// fewer then counted by other means), with the pieces' tallies merged after.
#pragma once

#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "pool/cancel.hpp"
#include "sp800_90b/suffix_tuples.hpp"

namespace veltrane::sp800_90b {

// I: the index type of the suffix array (uint32_t or uint64_t).
template <class I>
class IntervalTally {
    // Pair counts reach C(n, 2): 64 bits hold them for 32-bit indices only.
    using Pairs = std::conditional_t<sizeof(I) == 4, std::uint64_t, unsigned __int128>;

public:
    // m suffixes, consecutive in suffix order and sharing at least `floor`
    // symbols; prefix(i), for i = 1..m-1 in increasing order, is the common
    // prefix of suffixes i-1 and i, and `longest` the largest of them.
    template <class Prefix>
    void add(std::uint64_t m, std::uint64_t floor, std::uint64_t longest, Prefix&& prefix) {
        grow(longest);
        stack_.clear();
        stack_.push_back({static_cast<I>(floor), 0});
        for (std::uint64_t i = 1; i <= m; ++i) {
            if ((i & 0xFFFF) == 0) pool::checkpoint();
            const I h = i < m ? static_cast<I>(prefix(i)) : static_cast<I>(floor);
            I left = static_cast<I>(i - 1);
            while (h < stack_.back().lcp) {
                const Open top = stack_.back();
                stack_.pop_back();
                left = top.left;
                const I parent = std::max(h, stack_.back().lcp);
                const I size = static_cast<I>(i - top.left);
                const Pairs pairs = static_cast<Pairs>(size) * static_cast<Pairs>(size - 1) / 2;
                // differences over i; unsigned wrap-around cancels in the sums
                pair_steps_[parent + 1] += pairs;
                pair_steps_[top.lcp + 1] -= pairs;
                biggest_[top.lcp] = std::max<std::uint64_t>(biggest_[top.lcp], size);
            }
            if (h > stack_.back().lcp) stack_.push_back({h, left});
        }
    }

    // The same count (the floor below every prefix) by another way, which has
    // no branch on the data and suits runs with many deep intervals (biased
    // bits): the neighbours joined from the longest common prefix down, each
    // join of groups of s and t suffixes adding s t pairs at every length up
    // to its prefix. sweep(f) calls f(i, prefix(i)) for i = 1..m-1 in order; it
    // is called twice. 8 bytes of scratch per suffix.
    template <class Sweep>
    void add_by_joins(std::uint64_t m, std::uint64_t floor, std::uint64_t longest, Sweep&& sweep) {
        grow(longest);
        const std::size_t levels = longest - floor;  // the lengths above the floor, longest first
        first_.assign(levels + 1, 0);
        sweep([&](std::uint64_t, std::uint64_t h) {
            if (h > floor) ++first_[longest - h + 1];
        });
        for (std::size_t v = 1; v <= levels; ++v) first_[v] += first_[v - 1];
        joins_.resize(m);
        sweep([&](std::uint64_t i, std::uint64_t h) {
            if (h > floor) joins_[first_[longest - h]++] = static_cast<I>(i);
        });
        // other_[e]: the far end of the group e ends; each suffix alone at first
        other_.resize(m);
        for (std::uint64_t i = 0; i < m; ++i) other_[i] = static_cast<I>(i);
        std::size_t k = 0;
        for (std::size_t v = 0; v < levels; ++v) {
            pool::checkpoint();
            Pairs pairs = 0;
            std::uint64_t biggest = 0;
            for (const std::size_t end = first_[v]; k < end; ++k) {
                const I i = joins_[k];  // joins suffixes i - 1 and i
                const I left = other_[i - 1], right = other_[i];
                pairs += static_cast<Pairs>(i - left) * static_cast<Pairs>(right - i + 1);
                biggest = std::max<std::uint64_t>(biggest, right - left + 1);
                other_[left] = right;
                other_[right] = left;
            }
            const std::uint64_t h = longest - v;
            pair_steps_[floor + 1] += pairs;
            pair_steps_[h + 1] -= pairs;
            biggest_[h] = std::max(biggest_[h], biggest);
        }
    }

    // Tuples of `length` symbols counted by other means: `pairs` more pairs of
    // equal ones, and one occurring `top` times.
    void add_length(std::uint64_t length, std::uint64_t pairs, std::uint64_t top) {
        grow(length);
        pair_steps_[length] += pairs;
        pair_steps_[length + 1] -= pairs;
        // the other means' tops fall with the length, so the longer ones' stand
        biggest_[length] = std::max(biggest_[length], top);
    }

    // Another tally's intervals into this one.
    void merge(const IntervalTally& other) {
        if (other.longest_ > longest_) {
            longest_ = other.longest_;
            pair_steps_.resize(longest_ + 2, 0);
            biggest_.resize(longest_ + 1, 0);
        }
        for (std::size_t i = 0; i < other.pair_steps_.size(); ++i) pair_steps_[i] += other.pair_steps_[i];
        for (std::size_t i = 0; i < other.biggest_.size(); ++i) biggest_[i] = std::max(biggest_[i], other.biggest_[i]);
    }

    // The longest common prefix seen (0: none above the floor).
    std::uint64_t longest() const { return longest_; }

    // top[i-1] and pairs[i-1] of `out` for i = floor + 1 .. longest(), the
    // vectors being that long already; frees the tally's memory as it goes (on
    // constant data each array is as long as the input).
    void finish(std::uint64_t floor, TupleCounts& out) {
        std::vector<Open>().swap(stack_);
        std::vector<I>().swap(joins_);
        std::vector<I>().swap(other_);
        Pairs pairs = 0;
        for (std::uint64_t i = floor + 1; i <= longest_; ++i) out.pairs[i - 1] = static_cast<double>(pairs += pair_steps_[i]);
        std::vector<Pairs>().swap(pair_steps_);
        // Every interval of lcp >= i lies in one of the i-tuples' intervals.
        std::uint64_t top = 0;
        for (std::uint64_t i = longest_; i > floor; --i) out.top[i - 1] = top = std::max(top, biggest_[i]);
        std::vector<std::uint64_t>().swap(biggest_);
    }

private:
    struct Open {
        I lcp, left;
    };

    void grow(std::uint64_t longest) {
        if (longest > longest_) {
            longest_ = longest;
            pair_steps_.resize(longest + 2, 0);
            biggest_.resize(longest + 1, 0);
        }
    }

    std::vector<Pairs> pair_steps_;       // index i: pairs(i) - pairs(i - 1)
    std::vector<std::uint64_t> biggest_;  // index l: the largest interval of lcp l
    std::vector<Open> stack_;             // the lcps on it rise strictly from the floor
    std::vector<I> joins_, other_;        // add_by_joins's scratch
    std::vector<std::size_t> first_;
    std::uint64_t longest_ = 0;
};

}  // namespace veltrane::sp800_90b
