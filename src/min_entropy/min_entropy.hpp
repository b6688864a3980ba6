// Min-entropy (H_infinity) of a byte buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veltrane::min_entropy {

// -log2(m / total) with m the largest of `bins` counts summing to total >= 1;
// -0.0 when one bin holds everything. The one formula behind every min-entropy
// the project reports.
double min_entropy_of_counts(const std::uint64_t* counts, std::size_t bins, std::uint64_t total);

// -log2(m / n) with m the largest byte count; 0.0 for the empty buffer and
// -0.0 for one repeated byte value. O(n).
double min_entropy(const std::uint8_t* data, std::size_t n);

}  // namespace veltrane::min_entropy
