// What n uniformly random bits score on the 2-bin Shannon entropy: the divisor
// of the normalised measure in bit mode.
#pragma once

#include <cstdint>

namespace veltrane::battery {

// E[H(X/n)] in bits per bit, X ~ Binomial(n, 1/2), n >= 1: exact sum over
// the binomial below BIT_EXPECTATION_SERIES_FROM, from there the expansion
// 1 - sum_k E[(2X/n - 1)^(2k)] / (2k (2k - 1) ln 2) with its exact central
// moments up to the sixth and the leading eighth (error about 1e-16 at the
// switch, where the sum is as close; both fall further away from it).
inline constexpr std::uint64_t BIT_EXPECTATION_SERIES_FROM = 2048;
double expected_random_bit_entropy(std::uint64_t n);

// The two halves, for their tests.
double expected_random_bit_entropy_by_sum(std::uint64_t n);
double expected_random_bit_entropy_by_series(std::uint64_t n);

}  // namespace veltrane::battery
