// The sorted order of the rotations of a cyclic sequence of small integers.
//
// Both block transforms reduce to this: the generic one sorts a block's bytes,
// the decimal one sorts its tokens ranked in string order.
#pragma once

#include <cstdint>
#include <vector>

namespace veltrane::bz2_length {

// A rotation's sort key above its start in one word: START_BITS hold any start
// of a block (at most 900,004 bytes), the KEY_BITS above them a key.
inline constexpr int START_BITS = 20;
inline constexpr int KEY_BITS = 64 - START_BITS;
inline constexpr std::uint64_t START_MASK = (std::uint64_t{1} << START_BITS) - 1;

// Reused between calls.
struct RotationScratch {
    std::vector<std::uint64_t> items;
    std::vector<std::uint64_t> spare;
    std::vector<std::uint16_t> folded;
    std::vector<std::uint32_t> bucket_ends;
    std::vector<std::uint32_t> group_of;
    std::vector<std::uint32_t> groups;
    std::vector<std::uint32_t> pending;
    std::vector<std::uint32_t> seeing, rest;
    std::vector<std::uint64_t> leaving;
};

// order[0..m): the starts of the rotations of values[0..m) (each below radix,
// m < 2^START_BITS), smallest rotation first. Equal rotations (a periodic
// sequence) come in any order. Rotations are first told apart by as many
// leading values as fit in KEY_BITS in base `radix` (a value occurring once
// does not count in the radix), ordered by counting passes on the top bits and
// then insertion; those still tied are split by prefix doubling, O(m log m) per
// doubling, so that repetitive input is slower but never quadratic.
void sort_rotations(const std::uint16_t* values, std::uint32_t m, std::uint32_t radix, std::uint32_t* order,
                    RotationScratch& scratch);

}  // namespace veltrane::bz2_length
