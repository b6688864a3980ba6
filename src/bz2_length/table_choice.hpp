// The coding stage of one block: how many tables, which table codes each group
// of 50 symbols, the tables' code lengths, and what all that costs in bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bz2_length/small_selection.hpp"

namespace veltrane::bz2_length {

// Reused between blocks: the selectors.
struct CodingScratch {
    std::vector<std::uint8_t> selectors;
};

// The bits of the table count, selector count, selectors, tables and coded
// symbols for symbols[0..count) over an alphabet of `alphabet` symbols (the
// last is the end of block, so count >= 1). The encoder's way:
// - initial tables split the alphabet into consecutive ranges of about equal
//   total count, cost 0 inside the range and 15 outside; every other split from
//   the second on gives its last symbol back to the next range;
// - four rounds: each group takes the table of least cost (the first on ties),
//   then every table is rebuilt from the counts of its groups (longest code 17);
// - selectors are coded as move-to-front positions in unary; a table as its
//   first length in 5 bits, then per symbol 2 bits per step up or down and a 0.
std::uint64_t coding_bits(const std::uint16_t* symbols, std::size_t count, int alphabet, CodingScratch& scratch);

// The same for alphabets of at most SMALL_CODING_ALPHABET symbols, from each
// group's counts of each symbol (SMALL_CODING_ALPHABET bytes per group).
std::uint64_t coding_bits_small(const std::uint8_t* group_counts, std::size_t count, int alphabet,
                                CodingScratch& scratch);

}  // namespace veltrane::bz2_length
