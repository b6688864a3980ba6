// The proportions of the values as NIST's tool builds them for the non-binary
// chi-square tests and the collision probability: 1/L added once per
// occurrence. The sum of c such additions is not c/L to the last bit, and the
// tool's sort of expected counts, its bins and its P_col depend on those bits.
#pragma once

#include <cstdint>
#include <vector>

#include "sp800_90b_iid/samples.hpp"

namespace veltrane::sp800_90b::iid {

// counts[r]: occurrences of rank r.
std::vector<std::uint64_t> rank_counts(const SampleFacts& facts, const std::uint8_t* raw);

// p[r] = 1/L + 1/L + ... (counts[r] times), in double.
std::vector<double> added_proportions(const std::vector<std::uint64_t>& counts, std::uint64_t total);

}  // namespace veltrane::sp800_90b::iid
