// Runs of equal signs, the currency of four IID statistics, counted 64 signs
// to a word: a sequence of m signs is m bits, bit i of the sequence being bit
// i % 64 of word i / 64 (1 for one sign, 0 for the other).
#pragma once

#include <cstddef>
#include <cstdint>

namespace veltrane::sp800_90b::iid {

struct Runs {
    std::uint64_t count = 0;    // maximal runs of equal bits
    std::uint64_t longest = 0;  // the length of the longest
    std::uint64_t ones = 0;     // bits set
};

// Over the first m bits of `words` (bits beyond m in the last word are
// ignored). O(m / 64) plus the longest run inside any one word, per word.
Runs runs_of_bits(const std::uint64_t* words, std::size_t m);

}  // namespace veltrane::sp800_90b::iid
