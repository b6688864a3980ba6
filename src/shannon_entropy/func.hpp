// Shannon entropy of a byte buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veltrane::shannon_entropy {

// H = -sum(p * log2(p)) over the non-zero counts of a histogram of `total`
// symbols (p = count / total), summed in bin order from -0.0. Every entropy
// the project reports, per buffer, per window or per bit, goes through this
// one order of operations, so equal histograms give equal bits. One repeated
// value gives -0.0; so does an all-zero histogram. At most `bins` log2 calls.
double entropy_of_counts(const std::uint64_t* counts, std::size_t bins, std::uint64_t total);

// H of the bytes of data[0, n), in bits per byte. O(n) for the histogram plus
// at most 256 log2 calls.
double entropy(const std::uint8_t* data, std::size_t n);

// The divisor of the normalised measure for n >= 2: the expected entropy of n
// uniformly random bytes (table below 1000, fitted curve from there).
double expected_random_entropy(std::size_t n);

}  // namespace veltrane::shannon_entropy
