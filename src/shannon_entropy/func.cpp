#include "shannon_entropy/func.hpp"

#include <cmath>

#include "shannon_entropy/lut.hpp"
#include "util/count_bytes.hpp"

namespace veltrane::shannon_entropy {

double entropy_of_counts(const std::uint64_t* counts, std::size_t bins, std::uint64_t total) {
    const double n = static_cast<double>(total);
    // Starting from -0.0 and summing in bin order is part of the result: a
    // single repeated value gives -0.0 - (+0.0) = -0.0.
    double acc = -0.0;
    for (std::size_t v = 0; v < bins; ++v) {
        const std::uint64_t c = counts[v];
        if (c == 0) continue;
        const double p = static_cast<double>(c) / n;
        const double term = std::log2(p) * p;  // rounded on its own: no fused multiply-subtract
        acc = acc - term;
    }
    return acc;
}

double entropy(const std::uint8_t* data, std::size_t n) {
    const util::ByteHistogram counts = util::count_bytes(data, n);
    return entropy_of_counts(counts.data(), counts.size(), n);
}

double expected_random_entropy(std::size_t n) {
    if (n < SMALL_N_ENTROPY.size()) return SMALL_N_ENTROPY[n];
    // 8 - a * (n + b)^c, fitted to the table's tail; the constants are exact doubles.
    constexpr double OFFSET = 0x1.3908d0ea36e14p+1;     // 2.4455815452217937
    constexpr double EXPONENT = -0x1.081088f85cf3ap+0;  // -1.0315023046832281
    constexpr double SCALE = -0x1.e3784febb1519p+7;     // -241.73498474635633
    const double x = static_cast<double>(n) + OFFSET;
    const double d = std::pow(x, EXPONENT);
    const double scaled = d * SCALE;
    return scaled + 8.0;
}

}  // namespace veltrane::shannon_entropy
