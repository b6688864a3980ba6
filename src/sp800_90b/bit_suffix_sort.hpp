// The suffix array of a bit string and its neighbours' common prefix lengths,
// from the bits packed 64 to a word: the packed string (n/8 bytes) stays in
// cache, a suffix's first 64 bits are one word, and on varied data most
// suffixes are told apart by their first 80 bits.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sp800_90b/neighbour_prefixes.hpp"

namespace veltrane::sp800_90b {

// bits[0..n): 0 or 1 each, n below 2^32 - 1. Empty when the data is too
// repetitive for comparison sorting (the byte suffix sort then takes over,
// after O(n) spent here). 4 bytes per bit for the suffix array (dropped on
// return), 1 for the prefix lengths, n/8 for the packed copy.
std::optional<CompactPrefixes<std::uint32_t>> sort_bit_suffixes(const std::uint8_t* bits, std::uint64_t n);

}  // namespace veltrane::sp800_90b
