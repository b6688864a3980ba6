// The linear complexity test: the length of the shortest linear feedback
// shift register that generates each block of M bits (Berlekamp-Massey),
// against its distribution for random blocks.
#pragma once

#include <cstdint>

#include "sp800_22/bits.hpp"
#include "sp800_22/figures.hpp"

namespace veltrane::sp800_22 {

// The linear complexity of bits [begin, begin + m).
unsigned linear_complexity(const Bits& bits, std::uint64_t begin, std::uint64_t m);

// The linear complexities of `count` (at most 64) consecutive blocks of m bits
// from `begin` on, all at once: block b in bit b of every word.
void linear_complexities(const Bits& bits, std::uint64_t begin, std::uint64_t m, unsigned count, unsigned* out);

LinearComplexityFigures linear_complexity_test(const Bits& bits, std::uint64_t block_length, bool compatible);

}  // namespace veltrane::sp800_22
