// The IID track of SP 800-90B (section 5) on one sequence of samples: the
// initial entropy estimate, the chi-square tests, the longest-repeated-
// substring test and the permutation test, with every figure NIST's tool
// prints, and a verdict. Samples are one per byte, below 2^width.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "sp800_90b/estimators.hpp"
#include "sp800_90b_iid/chi_square_tests.hpp"
#include "sp800_90b_iid/lrs_test.hpp"
#include "sp800_90b_iid/permutation_test.hpp"
#include "sp800_90b_iid/samples.hpp"
#include "sp800_90b_iid/xoshiro.hpp"

namespace veltrane::sp800_90b::iid {

struct IidAssessment {
    std::uint64_t samples = 0;
    unsigned width = 0;
    unsigned distinct = 0;
    double mean = 0, median = 0;
    // The most common value estimate of the samples (H_original), and for
    // widths above 1 of their most-significant-bit-first bits (H_bitstring,
    // per bit).
    MostCommonValue literal;
    std::optional<MostCommonValue> bitstring;
    bool conditioned = false;
    // min(H_original, width * H_bitstring); for conditioned data the
    // bitstring's estimate alone, per bit (H_original for one-bit samples).
    double initial_entropy = 0;
    ChiSquareTests chi_square;
    LrsTest lrs;
    PermutationTest permutation;
    bool iid() const noexcept { return chi_square.passed() && lrs.passed && permutation.passed(); }
};

// Throws std::invalid_argument for empty data, a width outside 1..8, a sample
// too wide for it, or an all-zero seed; pool::Cancelled when stopped;
// std::bad_alloc.
// Throws std::invalid_argument for an all-zero seed.
void check_seed(const Seed& seed);

IidAssessment assess_iid(const std::uint8_t* data, std::size_t n, std::optional<unsigned> width, const Seed& seed,
                         bool conditioned, std::uint64_t* rounds_counted = nullptr,
                         std::uint64_t max_rounds = MAX_ROUNDS);

}  // namespace veltrane::sp800_90b::iid
