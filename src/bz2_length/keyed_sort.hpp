// Sorting runs of keyed rotations by key: insertion sort for short runs, a
// three-way quicksort otherwise, so that runs of mostly equal keys (repetitive
// input) cost one pass.
#pragma once

#include <cstddef>

#include "bz2_length/rotation_sort.hpp"

namespace veltrane::bz2_length {

void sort_by_key(KeyedRotation* items, std::size_t n);

}  // namespace veltrane::bz2_length
