// Sorting runs of rotations packed as key above start (rotation_sort.hpp) by
// key alone: insertion sort for short runs, a three-way quicksort otherwise, so
// that runs of mostly equal keys (repetitive input) cost one pass.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veltrane::bz2_length {

void sort_by_key(std::uint64_t* items, std::size_t n);

}  // namespace veltrane::bz2_length
