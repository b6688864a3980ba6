// The longest-repeated-substring test of the IID track (SP 800-90B 5.2.3):
// whether the longest repeat is unlikely for IID data of these proportions.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sp800_90b_iid/samples.hpp"

namespace veltrane::sp800_90b::iid {

struct LrsTest {
    std::uint64_t w = 0;          // the length of the longest repeated substring (0: nothing repeats)
    long double p_col = 0;        // the collision probability, sum of p_i^2
    long double probability = 0;  // Pr(X >= 1) = 1 - (1 - P_col^W)^N, N = C(L - W + 1, 2)
    bool passed = false;          // Pr(X >= 1) >= 0.001
};

// As NIST's tool computes it, in long double, p_i built by adding 1/L per occurrence.
LrsTest lrs_test(const SampleFacts& facts, const std::uint8_t* raw);

}  // namespace veltrane::sp800_90b::iid
