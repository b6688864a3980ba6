// The longest run of ones within blocks of 8, 128 or 10^4 bits.
#pragma once

#include <cstdint>

#include "sp800_22/bits.hpp"
#include "sp800_22/figures.hpp"

namespace veltrane::sp800_22 {

// The block length the standard takes for n bits: 8 below 6,272, 128 below
// 750,000, 10^4 from there on.
std::uint64_t longest_run_block_length_for(std::uint64_t n);
// Whether the standard has classes for blocks of this length (8, 128, 10^4).
bool longest_run_block_length_known(std::uint64_t block_length);

// The longest run of ones among bits [begin, end).
unsigned longest_run_of_ones(const Bits& bits, std::uint64_t begin, std::uint64_t end);

LongestRunFigures longest_run_test(const Bits& bits, std::uint64_t block_length, bool compatible);

}  // namespace veltrane::sp800_22
