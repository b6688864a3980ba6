// The binary matrix rank test: the ranks over GF(2) of disjoint 32 x 32
// matrices, filled row by row from the sequence.
#pragma once

#include <array>
#include <cstdint>

#include "sp800_22/bits.hpp"
#include "sp800_22/figures.hpp"

namespace veltrane::sp800_22 {

inline constexpr unsigned MATRIX_SIDE = 32;
inline constexpr std::uint64_t MATRIX_BITS = MATRIX_SIDE * MATRIX_SIDE;

// The rank over GF(2) of 32 rows of 32 bits (row i's first bit most significant).
unsigned binary_rank(std::array<std::uint32_t, MATRIX_SIDE> rows);

// P(rank = r) of a random 32 x 32 binary matrix.
double rank_probability(unsigned r);

RankFigures rank_test(const Bits& bits);

}  // namespace veltrane::sp800_22
