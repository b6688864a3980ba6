// The layout of libbz2's output and the fixed choices of its encoder, as far as
// they decide the output's length. Every figure here was established against
// the library (Debian's 1.0.8) by reading its streams back; the tests hold the
// length to the library's on every kind of input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veltrane::bz2_length {

// "BZh" and the level digit.
inline constexpr std::uint64_t STREAM_HEADER_BITS = 32;
// The end-of-stream mark (48 bits) and the combined CRC (32); then zero bits up
// to a whole byte.
inline constexpr std::uint64_t STREAM_TRAILER_BITS = 48 + 32;
// Per block: its 48-bit mark, CRC (32), the "randomised" flag (1) and the
// position of the original rotation (24).
inline constexpr std::uint64_t BLOCK_HEADER_BITS = 48 + 32 + 1 + 24;
// The byte map: one bit per range of 16 byte values, then 16 bits for each
// range that holds a byte of the block.
inline constexpr std::uint64_t RANGE_MAP_BITS = 16;
inline constexpr std::uint64_t RANGE_BITS = 16;
// The number of coding tables (3 bits) and of selectors (15 bits).
inline constexpr std::uint64_t TABLE_COUNT_BITS = 3;
inline constexpr std::uint64_t SELECTOR_COUNT_BITS = 15;
// A table starts with its first code length in 5 bits.
inline constexpr std::uint64_t TABLE_START_BITS = 5;

// The initial run-length stage: runs of 4 to 255 equal bytes become the byte
// four times and a count of the rest.
inline constexpr int RUN_THRESHOLD = 4;
inline constexpr int LONGEST_RUN = 255;
// The longest output of one step of that stage (a run's four bytes and count).
inline constexpr int LONGEST_RUN_OUTPUT = 5;

// Bytes of run-length output per block at `level` (1..9). A block closes as
// soon as it holds this many, after the step that reached it, and only when
// more input follows (see run_length.hpp).
inline constexpr std::size_t block_capacity(int level) { return std::size_t(100000) * level - 19; }
inline constexpr int MAX_LEVEL = 9;
// The most a block can hold beyond its capacity: a step's output begun just
// before it, and a lone last byte of input.
inline constexpr std::size_t BLOCK_OVERRUN = LONGEST_RUN_OUTPUT - 1 + 1;

// Symbols are coded in groups of 50, each group with the table its selector names.
inline constexpr std::size_t GROUP_SIZE = 50;
// Refinement rounds of the tables, and the longest code they may hold.
inline constexpr int REFINEMENT_ROUNDS = 4;
inline constexpr int LONGEST_CODE = 17;
inline constexpr int MAX_TABLES = 6;
// The largest coding alphabet: two run symbols, 255 move-to-front positions, end of block.
inline constexpr int MAX_ALPHABET = 258;

// How many tables a block uses, from its number of coded symbols.
inline constexpr int table_count(std::size_t symbols) {
    return symbols < 200 ? 2 : symbols < 600 ? 3 : symbols < 1200 ? 4 : symbols < 2400 ? 5 : 6;
}

// The stream's length in bytes from the bits of its blocks.
inline constexpr std::uint64_t stream_bytes(std::uint64_t block_bits) {
    return (STREAM_HEADER_BITS + block_bits + STREAM_TRAILER_BITS + 7) / 8;
}

}  // namespace veltrane::bz2_length
