// The block's transform output recoded as the encoder codes it: move-to-front
// positions over the block's byte alphabet, runs of position 0 written as
// bijective base-2 numerals of the two run symbols, every other position j as
// symbol j + 1, and the end-of-block symbol last.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veltrane::bz2_length {

inline constexpr std::uint16_t RUN_A = 0;  // digit 1 of a run length
inline constexpr std::uint16_t RUN_B = 1;  // digit 2

// letters[0..n): each below `alphabet` (1..256), the block's bytes renumbered
// 0..alphabet-1 in byte order; the move-to-front list starts as 0, 1, 2, ...
// Writes at most n + 1 symbols to `symbols` and returns how many; the coding
// alphabet is alphabet + 2 symbols, the last one being the end of block.
std::size_t move_to_front_symbols(const std::uint8_t* letters, std::size_t n, int alphabet, std::uint16_t* symbols);

}  // namespace veltrane::bz2_length
