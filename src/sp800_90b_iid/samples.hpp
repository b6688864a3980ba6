// What the IID statistics need to know of a set of samples besides their
// order: the alphabet, the renumbering, the mean and the median.
//
// The tool computes most statistics on the samples renumbered 0..k-1 in the
// sorted order of their distinct values, and excursion, covariance and
// compression on the raw values. A renumbering keeps order and equality, so
// every statistic can read the raw bytes of an arrangement and look the rank
// up only where a value matters (the bits of binary data, the median's side).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace veltrane::sp800_90b::iid {

struct Alphabet {
    unsigned k = 0;                          // distinct values
    std::array<std::uint8_t, 256> rank{};    // raw value -> 0..k-1
    std::array<std::uint8_t, 256> value{};   // rank -> raw value
    bool binary() const noexcept { return k == 2; }
};

struct SampleFacts {
    std::size_t n = 0;
    Alphabet alphabet;
    // The raw mean in double, as the tool computes it (sum / n).
    double mean = 0;
    // The median of the ranks: the middle one, or the mean of the two middle
    // ones for an even count; 0.5 for binary data.
    double median = 0;
    // The raw values whose rank lies below the median are those below this
    // one (256: all of them), for the median runs.
    unsigned median_threshold = 0;
};

// Throws std::invalid_argument for n == 0.
SampleFacts facts_of(const std::uint8_t* raw, std::size_t n);

}  // namespace veltrane::sp800_90b::iid
