// The tests of how evenly every pattern of m bits occurs, the sequence read
// cyclically: serial (m, m-1, m-2) and approximate entropy (m, m+1).
#pragma once

#include <cstdint>
#include <vector>

#include "sp800_22/bits.hpp"
#include "sp800_22/figures.hpp"

namespace veltrane::sp800_22 {

// How often each pattern of `width` bits (first bit most significant) starts
// at each of the n positions, windows wrapping round the end.
std::vector<std::uint64_t> cyclic_pattern_counts(const Bits& bits, unsigned width);
// The counts of patterns one bit shorter: each window is its longer one's prefix.
std::vector<std::uint64_t> shorter_patterns(const std::vector<std::uint64_t>& counts);

SerialFigures serial_test(const Bits& bits, unsigned m);
ApproximateEntropyFigures approximate_entropy_test(const Bits& bits, unsigned m);

}  // namespace veltrane::sp800_22
