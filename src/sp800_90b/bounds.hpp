// The confidence bound every estimator shares.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace veltrane::sp800_90b {

// The two-sided 99% normal quantile, at the precision NIST's reference tool uses
// (the standard's rounded 2.576 moves H by about 4e-6 bits at a million samples).
inline constexpr double Z_ALPHA = 2.5758293035489008;

// The upper bound of a proportion p_hat observed over n trials:
// min(1, p_hat + Z * sqrt(p_hat (1 - p_hat) / (n - 1))).
inline double upper_bound(double p_hat, std::uint64_t n) {
    return std::min(1.0, p_hat + Z_ALPHA * std::sqrt(p_hat * (1.0 - p_hat) / (static_cast<double>(n) - 1.0)));
}

}  // namespace veltrane::sp800_90b
