#include "bz2_length/block_bits.hpp"

#include "bz2_length/format.hpp"
#include "bz2_length/move_to_front.hpp"
#include "bz2_length/rotation_sort.hpp"
#include "bz2_length/table_choice.hpp"
#include "bz2_length/workspace.hpp"
#include "pool/cancel.hpp"

namespace veltrane::bz2_length {

static_assert(SMALL_ALPHABET + 2 <= SMALL_CODING_ALPHABET && COUNT_LANES == SMALL_CODING_ALPHABET,
              "the small alphabets' symbols fit the counted lanes");

std::uint64_t block_bits(const std::uint8_t* letters, std::size_t n, int alphabet, int ranges, Workspace& ws) {
    const std::uint64_t header = BLOCK_HEADER_BITS + RANGE_MAP_BITS + RANGE_BITS * ranges;
    if (alphabet <= SMALL_ALPHABET) {
        const std::size_t count = move_to_front_counts(letters, n, alphabet, ws.group_counts);
        pool::checkpoint();
        return header + coding_bits_small(ws.group_counts.data(), count, alphabet + 2, ws.coding);
    }
    ws.symbols.resize(n + 1);
    const std::size_t count = move_to_front_symbols(letters, n, alphabet, ws.symbols.data());
    pool::checkpoint();
    return header + coding_bits(ws.symbols.data(), count, alphabet + 2, ws.coding);
}

std::uint64_t byte_block_bits(const std::uint8_t* block, std::size_t n, Workspace& ws) {
    bool used[256] = {};
    for (std::size_t i = 0; i < n; ++i) used[block[i]] = true;
    std::uint8_t letter_of[256] = {};
    int alphabet = 0, ranges = 0;
    for (int range = 0; range < 16; ++range) {
        bool any = false;
        for (int b = range * 16; b < range * 16 + 16; ++b)
            if (used[b]) letter_of[b] = static_cast<std::uint8_t>(alphabet++), any = true;
        ranges += any;
    }
    ws.values.resize(n);
    for (std::size_t i = 0; i < n; ++i) ws.values[i] = letter_of[block[i]];
    ws.order.resize(n);
    sort_rotations(ws.values.data(), static_cast<std::uint32_t>(n), alphabet, ws.order.data(), ws.rotations);
    // Each rotation's letter is the byte before it.
    ws.letters.resize(n);
    for (std::size_t x = 0; x < n; ++x) {
        const std::uint32_t start = ws.order[x];
        ws.letters[x] = ws.values[start == 0 ? n - 1 : start - 1];
    }
    pool::checkpoint();
    return block_bits(ws.letters.data(), n, alphabet, ranges, ws);
}

}  // namespace veltrane::bz2_length
