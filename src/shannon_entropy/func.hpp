// Shannon entropy of a byte buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veltrane::shannon_entropy {

// H = -sum(p * log2(p)) over the byte values present, in bits per byte.
// O(n) for the histogram plus at most 256 log2 calls. Data made of one repeated
// byte value gives -0.0; so does the empty buffer's (unused) zero histogram sum.
double entropy(const std::uint8_t* data, std::size_t n);

// The divisor of the normalised measure for n >= 2: the expected entropy of n
// uniformly random bytes (table below 1000, fitted curve from there).
double expected_random_entropy(std::size_t n);

}  // namespace veltrane::shannon_entropy
