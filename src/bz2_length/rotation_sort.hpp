// The sorted order of the rotations of a cyclic sequence of small integers.
//
// Both block transforms reduce to this: the generic one sorts a block's bytes,
// the decimal one sorts its tokens ranked in string order.
#pragma once

#include <cstdint>
#include <vector>

namespace veltrane::bz2_length {

// A key and the rotation it belongs to.
struct KeyedRotation {
    std::uint64_t key;
    std::uint32_t start;
};

// Reused between calls.
struct RotationScratch {
    std::vector<std::uint64_t> keys;
    std::vector<std::uint32_t> bucket_starts;
    std::vector<KeyedRotation> keyed;
    std::vector<std::uint32_t> group_of;
    std::vector<std::uint32_t> groups;
};

// order[0..m): the starts of the rotations of values[0..m) (each below radix),
// smallest rotation first. Equal rotations (a periodic sequence) come in any
// order. Rotations are first told apart by as many leading values as fit in 64
// bits in base `radix`, found by a radix pass on the top bits and small sorts;
// those still tied are split by prefix doubling, O(m log m) per doubling, so
// that repetitive input is slower but never quadratic.
void sort_rotations(const std::uint16_t* values, std::uint32_t m, std::uint32_t radix, std::uint32_t* order,
                    RotationScratch& scratch);

}  // namespace veltrane::bz2_length
