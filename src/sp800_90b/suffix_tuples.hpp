// The counts behind the t-Tuple and LRS estimates (6.3.5, 6.3.6), from one
// suffix sort: for every length i up to the longest repeat, the count of the
// most frequent i-tuple and the number of pairs of equal i-tuples (both
// overlapping occurrences).
#pragma once

#include <cstdint>
#include <vector>

#include "sp800_90b/estimators.hpp"

namespace veltrane::sp800_90b {

struct TupleCounts {
    // The longest substring that occurs twice or more (0: nothing repeats).
    std::uint64_t longest_repeat = 0;
    // top[i-1]: occurrences of the most frequent i-tuple, i = 1..longest_repeat
    // (beyond it every tuple is unique).
    std::vector<std::uint64_t> top;
    // pairs[i-1]: sum over the distinct i-tuples of C(count, 2), i = 1..longest_repeat;
    // exact integers, rounded once to double (exact below 2^53).
    std::vector<double> pairs;
};

// How the suffixes are sorted and the neighbours' common prefixes found.
// Bits (k == 2, fewer than 2^32 - 1) are sorted packed 64 to a word, which
// gives the prefixes too; anything else, and bits too repetitive for that, by
// the byte suffix sort, whose neighbours are then compared directly, eight
// symbols a step, on the pool, or, where repetitive data makes that costly,
// by the linear-time permuted-LCP method. Tests pin a method, or the 64-bit
// indices that inputs of 2^32 symbols or more take.
struct TupleMethod {
    bool bits_as_bytes = false;      // k == 2 too by the byte suffix sort
    bool permuted_lcp_only = false;  // the byte suffix sort and the linear prefix method only
    bool wide_indices = false;
};

// O(n) memory beside the input: on varied data 4 bytes per symbol for the
// suffix array and 1 for the prefix lengths (bits: n/8 more for the packed
// copy; wide indices: 8 + 1); where the linear method takes over, 8 (16) for
// the suffix array and the text-order prefixes, then a stack and counts of up
// to 20 bytes per symbol of the longest repeat (all of n for constant data).
// Time: the sort plus O(n), the direct methods giving up after O(n) work.
TupleCounts count_tuples(Symbols s, TupleMethod method = {});

// The t-Tuple and LRS estimates (6.3.5, 6.3.6) of `samples` samples from their
// tuple counts (tuple_estimates() is this of count_tuples()).
Tuples tuple_estimates_of(const TupleCounts& counts, std::uint64_t samples);

}  // namespace veltrane::sp800_90b
