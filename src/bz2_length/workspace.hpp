// Scratch memory of the length computations, reused between the calls of one
// thread: once warm, a call allocates nothing. Each thread needs its own.
#pragma once

#include <cstdint>
#include <vector>

#include "bz2_length/rotation_sort.hpp"
#include "bz2_length/table_choice.hpp"
#include "bz2_length/token_plan.hpp"

namespace veltrane::bz2_length {

struct Workspace {
    std::vector<std::uint8_t> block;     // a block's bytes (the generic path)
    std::vector<std::uint16_t> values;   // what is sorted: bytes or token ranks
    std::vector<std::uint16_t> tokens;   // a decimal block's tokens
    std::vector<std::uint32_t> order;    // the sorted rotations
    std::vector<std::uint16_t> before;   // a decimal block's token before each, in order
    std::vector<std::uint8_t> letters;   // the transform's output, renumbered
    std::vector<std::uint16_t> symbols;  // move-to-front and run symbols, over large alphabets
    std::vector<std::uint8_t> group_counts;  // over small ones, only their counts per group
    TokenPlan plan;                      // a decimal block's buckets and deals
    RotationScratch rotations;
    CodingScratch coding;

    // The bytes the workspace holds (its buffers' capacities and itself).
    std::size_t footprint() const;
};

}  // namespace veltrane::bz2_length
