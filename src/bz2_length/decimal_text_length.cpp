#include "bz2_length/block_bits.hpp"
#include "bz2_length/bz2_length.hpp"
#include "bz2_length/decimal_blocks.hpp"
#include "bz2_length/format.hpp"
#include "bz2_length/levels.hpp"
#include "bz2_length/token_transform.hpp"

namespace veltrane::bz2_length {

std::uint64_t decimal_text_length(const std::uint8_t* values, std::size_t n, int level, Workspace& ws) {
    check_level(level);
    DecimalBlocks blocks(values, n, block_capacity(level));
    DecimalBlock block;
    std::uint64_t bits = 0;
    while (blocks.next(ws.tokens, block)) {
        if (!block.has_space) {
            // A few digits at the end of the text: sorted as bytes.
            bits += byte_block_bits(reinterpret_cast<const std::uint8_t*>(block.wrap.digits), block.length, ws);
            continue;
        }
        const Letters letters = token_letters(ws.tokens.data(), block.values, block, ws);
        bits += block_bits(ws.letters.data(), block.length, letters.alphabet, letters.ranges, ws);
    }
    return stream_bytes(bits);
}

}  // namespace veltrane::bz2_length
