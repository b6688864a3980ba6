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
// Bits (k == 2, below 2^32 - 1 of them) are sorted packed 64 to a word,
// anything else (and bits too repetitive for that) by the byte suffix sort.
// The default then compares the
// neighbours' text directly, eight symbols a step, on the pool, and turns to
// the linear-time permuted-LCP method when repetitive data makes that costly.
// Tests pin one method or the 64-bit indices of inputs of 2^32 symbols or more.
struct TupleMethod {
    bool bits_as_bytes = false;  // k == 2: the byte suffix sort instead of the packed-bit one
    bool permuted_lcp_only = false;
    bool wide_indices = false;
};

// O(n) memory: 4 bytes per symbol for the suffix array and 1 for the common
// prefix lengths (8 and 1 with wide indices); 4 more where the linear method
// takes over. Time: the suffix sort plus O(n) (amortised; see the .cpp).
TupleCounts count_tuples(Symbols s, TupleMethod method = {});

}  // namespace veltrane::sp800_90b
