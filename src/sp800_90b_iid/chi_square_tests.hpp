// The chi-square tests of the IID track (SP 800-90B 5.2.1, 5.2.2): independence
// of neighbouring samples and goodness of fit across ten parts of the data, as
// NIST's tool computes them, rounding included: its figures agree to the last
// bit.
//
// Non-binary data: proportions built by adding 1/L once per occurrence;
// independence over non-overlapping pairs, each pair (i, j) expected
// floor(L/2) p_i p_j times, pairs taken by expected count (then by i, j) into
// bins until each expects at least 5 (a short last bin joins the one before),
// df = bins - k; goodness of fit over 10 parts of floor(L/10) samples, the
// values binned the same way by p_i floor(L/10), the statistic summed part by
// part, df = 9 (bins - 1).
// Binary data: proportions c/L; independence over non-overlapping m-bit
// tuples, m the largest up to 11 with min(p0, p1)^m floor(L/m) >= 5,
// df = 2^m - 2; goodness of fit over the ones and zeros of 10 parts, df = 9.
// A test passes when its p-value is at least 0.001.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sp800_90b_iid/samples.hpp"

namespace veltrane::sp800_90b::iid {

struct ChiSquare {
    double statistic = 0;
    // Degrees of freedom; 0 or less when the data is too short for the test,
    // which then has no p-value (NaN) and does not pass.
    std::int64_t df = 0;
    double p_value = 0;
    bool passed = false;
};

struct ChiSquareTests {
    ChiSquare independence, goodness_of_fit;
    bool passed() const noexcept { return independence.passed && goodness_of_fit.passed; }
};

inline constexpr double CHI_SQUARE_CUTOFF = 0.001;

ChiSquareTests chi_square_tests(const SampleFacts& facts, const std::uint8_t* raw);

}  // namespace veltrane::sp800_90b::iid
