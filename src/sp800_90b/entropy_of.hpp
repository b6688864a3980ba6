// The min-entropy of an outcome of probability p, in bits.
#pragma once

#include <cmath>

namespace veltrane::sp800_90b {

// -log2(p), written 0 - log2(p) so that a certain outcome gives +0, not -0.
inline double min_entropy_of(double p) { return 0.0 - std::log2(p); }

}  // namespace veltrane::sp800_90b
