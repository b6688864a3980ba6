// The code lengths the encoder gives one table from its symbol counts.
#pragma once

#include <cstdint>

namespace veltrane::bz2_length {

// lengths[0..alphabet) for counts[0..alphabet) (2 <= alphabet <= MAX_ALPHABET):
// a Huffman tree built the encoder's way, whose choices among equal weights
// decide the lengths:
// - a symbol never seen weighs as if seen once;
// - a weight carries its subtree's depth in its low 8 bits, so that of two
//   equal counts the shallower subtree is taken first;
// - the two lightest are taken from a binary heap (filled in symbol order,
//   sift-up on insertion, sift-down after removal, children compared strictly);
// - when a code would be longer than `longest`, every count c becomes
//   1 + c / 2 and the tree is built again.
void make_code_lengths(const std::uint32_t* counts, int alphabet, int longest, std::uint8_t* lengths);

}  // namespace veltrane::bz2_length
