// The tests of how often the bits are one, and of how the ±1 walk they make
// wanders: frequency (monobit), frequency within a block, runs, cumulative sums.
#pragma once

#include <cstdint>

#include "sp800_22/bits.hpp"
#include "sp800_22/figures.hpp"

namespace veltrane::sp800_22 {

// The ones among bits [begin, end).
std::uint64_t ones_between(const Bits& bits, std::uint64_t begin, std::uint64_t end);

FrequencyFigures frequency_test(const Bits& bits);
BlockFrequencyFigures block_frequency_test(const Bits& bits, std::uint64_t block_length);
RunsFigures runs_test(const Bits& bits);
CumulativeSumsFigures cumulative_sums_test(const Bits& bits);

// The cumulative sums p-value of a walk of n steps whose largest |partial sum| is z.
double cumulative_sums_p_value(std::int64_t n, std::int64_t z);

}  // namespace veltrane::sp800_22
