// Min-entropy (H_infinity) of a byte buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veltrane::min_entropy {

// -log2(m / n) with m the largest byte count; 0.0 for the empty buffer and
// -0.0 for one repeated byte value. O(n).
double min_entropy(const std::uint8_t* data, std::size_t n);

}  // namespace veltrane::min_entropy
