// The 19 statistics of the IID permutation test (SP 800-90B section 5.1), on
// one arrangement of the samples, exactly as NIST's tool computes them.
//
// Non-binary data: directional runs, increases/decreases, median runs,
// collisions and periodicity on the samples (renumbered, which changes none of
// them but the median's side), excursion and covariance on the raw values.
// Binary data (two distinct values): directional runs, increases/decreases,
// periodicity and covariance on Conversion I (the ones in each block of 8 bits,
// a last partial block included), the collisions on Conversion II (each block
// of 8 bits as a byte, first bit most significant, a partial block padded with
// zeros), the median runs on the bits (median 0.5), excursion on the raw values.
// Compression, on the raw values in decimal, is computed elsewhere (it is most
// of a round's cost).
//
// Every value is a double, as the tool keeps them: integers exactly, the
// excursion as the double nearest its long double maximum, the average
// collision as the double quotient.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sp800_90b_iid/samples.hpp"

namespace veltrane::sp800_90b::iid {

inline constexpr unsigned STATISTICS = 19;
enum Statistic : unsigned {
    EXCURSION,
    NUM_DIRECTIONAL_RUNS,
    LEN_DIRECTIONAL_RUNS,
    NUM_INCREASES_DECREASES,
    NUM_RUNS_MEDIAN,
    LEN_RUNS_MEDIAN,
    AVG_COLLISION,
    MAX_COLLISION,
    PERIODICITY,  // five lags, PERIODICITY + j for LAGS[j]
    COVARIANCE = PERIODICITY + 5,
    COMPRESSION = COVARIANCE + 5,
};
inline constexpr std::array<unsigned, 5> LAGS = {1, 2, 8, 16, 32};

// The tool's names, in its order.
inline constexpr std::array<const char*, STATISTICS> STATISTIC_NAMES = {
    "excursion",      "numDirectionalRuns", "lenDirectionalRuns", "numIncreasesDecreases", "numRunsMedian",
    "lenRunsMedian",  "avgCollision",       "maxCollision",       "periodicity(1)",        "periodicity(2)",
    "periodicity(8)", "periodicity(16)",    "periodicity(32)",    "covariance(1)",         "covariance(2)",
    "covariance(8)",  "covariance(16)",     "covariance(32)",     "compression"};

using Values = std::array<double, STATISTICS>;
// Bit s set: statistic s is wanted.
using Mask = std::uint32_t;
inline constexpr Mask ALL_STATISTICS = (Mask{1} << STATISTICS) - 1;
inline constexpr Mask bit(unsigned s) { return Mask{1} << s; }
// The statistics that scan the samples one by one (a chain of dependent steps),
// and the ones made of comparisons and products of neighbours (vector work).
inline constexpr Mask SCANNED = bit(EXCURSION) | bit(AVG_COLLISION) | bit(MAX_COLLISION);
inline constexpr Mask NEIGHBOURLY = ALL_STATISTICS & ~SCANNED & ~bit(COMPRESSION);

// Buffers reused between the arrangements one thread measures.
struct Scratch {
    std::vector<std::uint64_t> bits;  // a sequence's comparison bits, 64 to a word
    std::vector<std::uint8_t> conversion_1;
};

// Sets values[s] for every s in `wanted` except COMPRESSION, for the
// arrangement `raw` (n raw samples, those `facts` describe). O(n).
void compute_statistics(const SampleFacts& facts, const std::uint8_t* raw, Mask wanted, Values& values,
                        Scratch& scratch);

}  // namespace veltrane::sp800_90b::iid
