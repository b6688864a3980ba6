// The entropy filter's measure: Shannon entropy of a fragment's own element
// counts, in bits per element.
#pragma once

#include <cmath>
#include <cstdint>

namespace veltrane::strings::repeats {

// For a fragment of `length` elements whose distinct values occur counts[0],
// counts[1], ... times, in ascending order of value: the sum, rounding and order
// of shannon_entropy::entropy (which measures bytes), so that a fragment of
// bytes scores exactly what that function gives for it and a threshold decides
// the same way on every machine. Zero counts are skipped.
template <class Counts>
double fragment_entropy(const Counts& counts, std::uint64_t length) {
    const double total = static_cast<double>(length);
    double acc = -0.0;
    for (const auto c : counts) {
        if (c == 0) continue;
        const double p = static_cast<double>(c) / total;
        const double term = std::log2(p) * p;
        acc = acc - term;
    }
    return acc;
}

}  // namespace veltrane::strings::repeats
