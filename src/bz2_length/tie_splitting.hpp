// Rotations still tied after their first values: split by prefix doubling.
#pragma once

#include <cstdint>
#include <vector>

#include "bz2_length/rotation_sort.hpp"

namespace veltrane::bz2_length {

// Appends the runs of equal keys among items[begin, end) to `groups` (begin, end pairs).
void note_ties(const std::uint64_t* items, std::uint32_t begin, std::uint32_t end, std::vector<std::uint32_t>& groups);

// order[0..m) is sorted by the rotations' first `known` values; s.groups lists
// its runs still tied. Each round sorts a group by the group of the rotation
// `known` values further on, then doubles `known`, until no group is left or
// `known` reaches m (the rest are equal rotations). O(m log m) per round.
void split_ties(std::uint32_t* order, std::uint32_t m, std::uint64_t known, RotationScratch& s);

}  // namespace veltrane::bz2_length
