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
        if (longest > longest_) {
            longest_ = longest;
            pair_steps_.resize(longest + 2, 0);
            biggest_.resize(longest + 1, 0);
        }
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

    // Tuples of `length` symbols counted by other means: `pairs` more pairs of
    // equal ones, and one occurring `top` times.
    void add_length(std::uint64_t length, std::uint64_t pairs, std::uint64_t top) {
        if (length > longest_) {
            longest_ = length;
            pair_steps_.resize(length + 2, 0);
            biggest_.resize(length + 1, 0);
        }
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
    std::vector<Pairs> pair_steps_;       // index i: pairs(i) - pairs(i - 1)
    std::vector<std::uint64_t> biggest_;  // index l: the largest interval of lcp l
    std::vector<Open> stack_;             // the lcps on it rise strictly from the floor
    std::uint64_t longest_ = 0;
};

}  // namespace veltrane::sp800_90b
