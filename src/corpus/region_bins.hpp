// The regions of a corpus cut into sets searched apart, side by side on the
// worker pool: no string that occurs twice has occurrences in two sets, so
// each set's search finds its repeats whole, with their corpus counts. The
// suffix sort, a library call that runs on one core, then runs on all.
#pragma once

#include <cstddef>
#include <vector>

#include "corpus/repeat_regions.hpp"

namespace veltrane::corpus {

// At most `bins` sets of regions, each in corpus order, the largest set
// first (unsampled regions: one set): the groups of regions that the links connect, dealt out largest
// first, each to the set that holds the fewest bytes so far; or one set when
// a group holds three quarters of the bytes. O(r log r) for r regions.
std::vector<std::vector<Region>> region_bins(RepeatRegions&& found, std::size_t bins);

}  // namespace veltrane::corpus
