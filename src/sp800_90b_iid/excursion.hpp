// The excursion statistic (SP 800-90B 5.1.1): max_i |S_i - i * mean| over the
// prefix sums S_i of the raw samples, as NIST's tool computes it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veltrane::sp800_90b::iid {

// In long double, S_i exact and the product rounded to 64 bits, the maximum
// returned as the double the tool keeps. `mean` is the raw mean in double.
double excursion(const std::uint8_t* raw, std::size_t n, double mean);

// The same, one sample at a time (the vector version's reference in the tests).
double excursion_one_by_one(const std::uint8_t* raw, std::size_t n, double mean);

}  // namespace veltrane::sp800_90b::iid
