// The template matching tests: occurrences of the aperiodic templates of m
// bits in each of N blocks (non-overlapping), and of m ones in blocks of M
// bits (overlapping).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sp800_22/bits.hpp"
#include "sp800_22/figures.hpp"

namespace veltrane::sp800_22 {

// NIST's program reads at most this many templates of any length.
inline constexpr std::size_t PROGRAM_TEMPLATE_LIMIT = 148;

// Whether a template of m bits (first bit most significant) can overlap a
// shifted copy of itself: some proper prefix equals the suffix of its length.
bool periodic(std::uint32_t bits, unsigned m);

// Every aperiodic template of m bits in ascending order; in compatible mode
// at most the first PROGRAM_TEMPLATE_LIMIT, as NIST's program reads them.
std::vector<std::uint32_t> aperiodic_templates(unsigned m, bool compatible);

NonOverlappingFigures non_overlapping_test(const Bits& bits, unsigned m, unsigned blocks, bool compatible);

// The probabilities that a block of M bits holds 0, 1, ..., 4 and 5 or more
// overlapping occurrences of m ones: exactly (default) or by the first
// revision's approximation that NIST's program keeps (compatible).
std::array<double, 6> overlapping_probabilities(unsigned m, std::uint64_t block_length, bool compatible);

OverlappingFigures overlapping_test(const Bits& bits, unsigned m, std::uint64_t block_length, bool compatible);

}  // namespace veltrane::sp800_22
