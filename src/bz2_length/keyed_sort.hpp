// Sorting rotations packed as key above start (rotation_sort.hpp) by key alone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bz2_length/rotation_sort.hpp"

namespace veltrane::bz2_length {

inline std::uint64_t key_of(std::uint64_t item) { return item >> START_BITS; }
inline std::uint32_t start_of(std::uint64_t item) { return static_cast<std::uint32_t>(item & START_MASK); }

// Any run: insertion sort when short, else a three-way quicksort, so that runs
// of mostly equal keys (repetitive input) cost one pass.
void sort_by_key(std::uint64_t* items, std::size_t n);

// items[0..m) in order of their top bits already, each only a few places from
// where its key belongs: insertion, the common steps without a branch.
void insertion_pass(std::uint64_t* items, std::uint32_t m);

// items[0..n) agree above bit `shift`: dealt out by the next 8 bits, again and
// again, until the parts are at most `small` long (then sorted by comparison)
// or their keys equal. `spare` has room for n items.
void radix_parts(std::uint64_t* items, std::uint32_t n, int shift, std::uint32_t small, std::uint64_t* spare);

}  // namespace veltrane::bz2_length
