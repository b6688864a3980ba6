// The three Shannon measures as the module returns them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veltrane::shannon_entropy {

// Bits per byte; 0.0 for the empty buffer. O(n).
double measure_entropy(const std::uint8_t* data, std::size_t n);
// H / 8; 0.0 for the empty buffer. O(n).
double measure_metric_entropy(const std::uint8_t* data, std::size_t n);
// H over the expected entropy of n random bytes, at most 1.0; +0.0 for n < 2. O(n).
double measure_normalized_metric_entropy(const std::uint8_t* data, std::size_t n);

// The normalised measure from the entropy h of n >= 1 bytes: what
// measure_normalized_metric_entropy returns for them. O(1).
double normalize_entropy(double h, std::uint64_t n);
// The same for n >= 2 with its divisor expected_random_entropy(n) computed
// once, for many measures of equal length.
double normalize_entropy_by(double h, double expected);

}  // namespace veltrane::shannon_entropy
