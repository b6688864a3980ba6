// One refinement round's table choice over small alphabets (table_choice.hpp),
// from each group's symbol counts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "bz2_length/format.hpp"

namespace veltrane::bz2_length {

inline constexpr int SMALL_CODING_ALPHABET = 16;

using TableLengths = std::array<std::array<std::uint8_t, MAX_ALPHABET>, MAX_TABLES>;
using SmallCounts = std::array<std::array<std::uint32_t, SMALL_CODING_ALPHABET>, MAX_TABLES>;

// counts: SMALL_CODING_ALPHABET bytes per group. For each group the table of
// least cost among the first `tables` (the first on ties) goes to selectors[g],
// and the group's counts are added to coded[that table].
void select_small(const std::uint8_t* counts, std::size_t groups, int tables, const TableLengths& lengths,
                  std::uint8_t* selectors, SmallCounts& coded);

namespace detail {
// The plain version, which select_small falls back on without AVX2.
void select_small_portable(const std::uint8_t* counts, std::size_t groups, int tables, const TableLengths& lengths,
                           std::uint8_t* selectors, SmallCounts& coded);
bool have_vector_selection();
}  // namespace detail

}  // namespace veltrane::bz2_length
