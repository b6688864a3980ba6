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

// The same for alphabets of at most SMALL_ALPHABET letters, symbols in bytes.
// `symbols` must have room for n + 1 + SYMBOL_SLACK bytes: the fast version
// writes ahead of its output.
inline constexpr int SMALL_ALPHABET = 14;
inline constexpr std::size_t SYMBOL_SLACK = 32;
std::size_t move_to_front_small(const std::uint8_t* letters, std::size_t n, int alphabet, std::uint8_t* symbols);

namespace detail {
// The plain version of move_to_front_small, which it falls back on without AVX2
// (for the tests to hold the two together).
std::size_t move_to_front_small_portable(const std::uint8_t* letters, std::size_t n, int alphabet,
                                         std::uint8_t* symbols);
bool have_vector_move_to_front();
}  // namespace detail

}  // namespace veltrane::bz2_length
