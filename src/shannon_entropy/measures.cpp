#include "shannon_entropy/measures.hpp"

#include "shannon_entropy/func.hpp"

namespace veltrane::shannon_entropy {

double measure_entropy(const std::uint8_t* data, std::size_t n) { return n == 0 ? 0.0 : entropy(data, n); }

double measure_metric_entropy(const std::uint8_t* data, std::size_t n) {
    return n == 0 ? 0.0 : entropy(data, n) * 0.125;
}

double measure_normalized_metric_entropy(const std::uint8_t* data, std::size_t n) {
    if (n == 0) return 0.0;
    return normalize_entropy(entropy(data, n), n);
}

double normalize_entropy(double h, std::uint64_t n) {
    return n < 2 ? 0.0 : normalize_entropy_by(h, expected_random_entropy(n));
}

double normalize_entropy_by(double h, double expected) {
    const double q = h / expected;
    return q < 1.0 ? q : 1.0;
}

}  // namespace veltrane::shannon_entropy
