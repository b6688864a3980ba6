// The tuple counts (suffix_tuples.hpp) of a bit string from a suffix sort of
// the bits packed 64 to a word: the packed string (n/8 bytes) stays in cache, a
// suffix's first 64 bits are one word, and on varied data most suffixes are
// told apart by their first 80 bits.
#pragma once

#include <cstdint>
#include <optional>

#include "sp800_90b/suffix_tuples.hpp"

namespace veltrane::sp800_90b {

// bits[0..n): 0 or 1 each, n below 2^32 - 1. Empty when the data is too
// repetitive for comparison sorting (the byte suffix sort then takes over,
// after O(n) spent here), or too short to be worth the buckets (under 64
// bits). 4 bytes per bit for the suffix array, n/8 for the packed copy, and
// the counts, as long as the longest repeat.
std::optional<TupleCounts> count_bit_tuples(const std::uint8_t* bits, std::uint64_t n);

}  // namespace veltrane::sp800_90b
