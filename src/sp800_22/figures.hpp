// What each test finds in one sequence: its p-values and the intermediate
// figures NIST's program prints in its stats.txt, named as there.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sp800_22/catalogue.hpp"

namespace veltrane::sp800_22 {

struct FrequencyFigures {
    std::int64_t sum = 0;  // S_n: ones minus zeros
    double ratio = 0;      // S_n / n
    double p_value = 0;
};

struct BlockFrequencyFigures {
    double chi_square = 0;
    std::uint64_t blocks = 0, block_length = 0, discarded = 0;
    double p_value = 0;
};

struct CumulativeSumsFigures {
    std::int64_t forward_max = 0, backward_max = 0;  // z: the largest |partial sum| either way
    double p_forward = 0, p_backward = 0;
};

struct RunsFigures {
    double pi = 0;              // the proportion of ones
    std::uint64_t runs = 0;     // V_n(obs)
    double statistic = 0;       // |V - 2n pi (1 - pi)| / (2 sqrt(2n) pi (1 - pi))
    bool prerequisite = true;   // |pi - 1/2| < 2 / sqrt(n); otherwise p = 0 and no statistic
    double p_value = 0;
};

// Classes of the longest run: at most `first`, then one per length, then at least `first + classes - 1`.
struct LongestRunFigures {
    std::uint64_t blocks = 0, block_length = 0;
    unsigned first = 0, classes = 0;
    std::array<std::uint64_t, 7> counts{};
    std::array<double, 7> probabilities{};
    double chi_square = 0, p_value = 0;
};

struct RankFigures {
    std::array<double, 3> probabilities{};  // full rank, one less, lower
    std::array<std::uint64_t, 3> counts{};
    std::uint64_t matrices = 0, discarded = 0;
    double chi_square = 0, p_value = 0;
};

struct DftFigures {
    std::uint64_t below = 0;  // N_1: moduli under the threshold
    double percentile = 0, expected = 0, d = 0, p_value = 0;
};

struct NonOverlappingFigures {
    unsigned template_length = 0;
    std::uint64_t blocks = 0, block_length = 0;
    double mean = 0, variance = 0;  // of a block's count
    std::vector<std::uint32_t> templates;  // the bits of each, first bit most significant
    std::vector<std::uint32_t> counts;     // templates x blocks
    std::vector<double> chi_squares, p_values;
};

struct OverlappingFigures {
    unsigned template_length = 0;
    std::uint64_t blocks = 0, block_length = 0;
    double lambda = 0, eta = 0;
    std::array<std::uint64_t, 6> counts{};
    std::array<double, 6> probabilities{};
    double chi_square = 0, p_value = 0;
};

struct UniversalFigures {
    bool applicable = true;  // false only in compatible mode, where NIST's program reports p = 0
    unsigned block_length = 0;  // L
    std::uint64_t initial_blocks = 0, test_blocks = 0, discarded = 0;  // Q, K
    double sum = 0, sigma = 0, variance = 0, expected = 0, phi = 0, p_value = 0;
};

struct ApproximateEntropyFigures {
    unsigned block_length = 0;
    double chi_square = 0, phi_m = 0, phi_m1 = 0, apen = 0, p_value = 0;
};

// Not applicable (no p-values) when the walk has too few cycles.
struct RandomExcursionsFigures {
    std::uint64_t cycles = 0;
    double constraint = 0;
    bool applicable = false;
    std::array<std::array<std::uint64_t, 6>, EXCURSION_STATES> counts{};
    std::array<double, EXCURSION_STATES> chi_squares{}, p_values{};
};

struct RandomExcursionsVariantFigures {
    std::uint64_t cycles = 0;
    bool applicable = false;
    std::array<std::uint64_t, VARIANT_STATES> visits{};
    std::array<double, VARIANT_STATES> p_values{};
};

struct SerialFigures {
    unsigned block_length = 0;
    double psi_m = 0, psi_m1 = 0, psi_m2 = 0, del1 = 0, del2 = 0, p_value1 = 0, p_value2 = 0;
};

struct LinearComplexityFigures {
    std::uint64_t blocks = 0, block_length = 0, discarded = 0;
    std::array<std::uint64_t, 7> counts{};
    std::array<double, 7> probabilities{};
    double chi_square = 0, p_value = 0;
};

}  // namespace veltrane::sp800_22
