// The bits one block takes: from its transform's output, or from its bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veltrane::bz2_length {

struct Workspace;

// letters[0..n) (n >= 1): the block's sorted-rotation output, its bytes
// renumbered 0..alphabet-1 in byte order; `ranges` is how many ranges of 16
// byte values hold a byte of the block. Everything but the rotation sort:
// the byte map, move-to-front and run coding, tables, selectors, symbols.
std::uint64_t block_bits(const std::uint8_t* letters, std::size_t n, int alphabet, int ranges, Workspace& ws);

// The same for a block of run-length output block[0..n) (n >= 1), its
// rotations sorted as bytes.
std::uint64_t byte_block_bits(const std::uint8_t* block, std::size_t n, Workspace& ws);

}  // namespace veltrane::bz2_length
