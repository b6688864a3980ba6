// One ranking from the rankings of searches over parts of an input that share
// no fragment: the rank order is a total order on (score, length, count, first
// start), so merging by it gives the ranking of the whole.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "strings/repeats/result.hpp"

namespace veltrane::strings::repeats {

// The fragments of `parts` (each in rank order, positions already of the
// whole) in rank order, at most `top` of them; what each part left out is
// added up. O(f log f) for f fragments.
RepeatsResult merge_ranked(std::vector<RepeatsResult>&& parts, std::optional<std::uint64_t> top);

}  // namespace veltrane::strings::repeats
