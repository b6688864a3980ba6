// The bits one block takes, from its transform's output.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veltrane::bz2_length {

struct Workspace;

// letters[0..n) (n >= 1): the block's sorted-rotation output with bytes
// renumbered 0..alphabet-1 in byte order; `ranges` is how many ranges of 16
// byte values hold a byte of the block. Uses ws.symbols and ws.coding.
std::uint64_t block_bits(const std::uint8_t* letters, std::size_t n, int alphabet, int ranges, Workspace& ws);

// The letters of a block whose bytes are block[0..n): order[x] is the start of
// the x-th smallest rotation, so letter x is the byte before it, renumbered by
// `letter_of`.
void letters_before(const std::uint8_t* block, std::size_t n, const std::uint32_t* order,
                    const std::uint8_t* letter_of, std::uint8_t* letters);

}  // namespace veltrane::bz2_length

namespace veltrane::bz2_length {

// The bits of a block of run-length output block[0..n) (n >= 1), sorted as bytes.
std::uint64_t byte_block_bits(const std::uint8_t* block, std::size_t n, Workspace& ws);

}  // namespace veltrane::bz2_length
