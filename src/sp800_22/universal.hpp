// Maurer's universal statistical test: how far back each L-bit block last
// occurred, after Q blocks that only initialise the table.
#pragma once

#include <cstdint>

#include "sp800_22/bits.hpp"
#include "sp800_22/figures.hpp"

namespace veltrane::sp800_22 {

inline constexpr unsigned UNIVERSAL_SMALLEST_L = 6, UNIVERSAL_LARGEST_L = 16;

// The standard's block length for n bits (its table of input sizes), or 0
// when n is below 387,840 bits, the least it gives one for.
unsigned universal_block_length_for(std::uint64_t n);
// The standard's expected value and variance of the statistic for L = 1..16.
double universal_expected(unsigned l);
double universal_variance(unsigned l);

// l in 6..16, q >= 10 * 2^l, and at least one test block.
UniversalFigures universal_test(const Bits& bits, unsigned l, std::uint64_t q);

}  // namespace veltrane::sp800_22
