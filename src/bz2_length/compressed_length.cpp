#include "bz2_length/block_bits.hpp"
#include "bz2_length/bz2_length.hpp"
#include "bz2_length/format.hpp"
#include "bz2_length/levels.hpp"
#include "bz2_length/run_length.hpp"

namespace veltrane::bz2_length {

std::uint64_t compressed_length(const std::uint8_t* text, std::size_t n, int level, Workspace& ws) {
    check_level(level);
    RunLengthBlocks blocks(text, n, block_capacity(level));
    ws.block.resize(block_capacity(level) + BLOCK_OVERRUN);
    std::uint64_t bits = 0;
    while (const std::size_t size = blocks.next(ws.block.data())) bits += byte_block_bits(ws.block.data(), size, ws);
    return stream_bytes(bits);
}

}  // namespace veltrane::bz2_length
