// What a decimal block's tokens deal where, in its transform (token_transform.hpp):
// the tokens ranked in string order, one bucket per suffix string, and for each
// rank the bucket and letter of each of its suffixes.
#pragma once

#include <array>
#include <cstdint>

#include "bz2_length/decimal_blocks.hpp"

namespace veltrane::bz2_length {

// Token 256 is the block's wrap token; 0..255 are values.
inline constexpr int WRAP_TOKEN = 256;
inline constexpr int TOKEN_KINDS = 257;

// A value's token puts at most 4 letters: for its whole spelling (the space
// before it), for its suffixes of 2 and 1 digits (a digit), and for its empty
// suffix (its last digit). The empty suffix's bucket takes one letter per
// token, in rotation order, so it is written in place; the other three are
// dealt out, a shorter token dealing its missing ones to a slot of its own
// that never advances.
inline constexpr int DEALT = 3;

struct Deal {
    std::uint16_t bucket;
    std::uint8_t letter;
    std::uint8_t advance;
};

struct TokenPlan {
    // Suffix strings: at most 1 + 10 + 100 + 156 of values, and the wrap token's 7.
    static constexpr int MAX_BUCKETS = 512;

    std::array<std::uint32_t, TOKEN_KINDS> count;  // of each token in the block
    std::array<const Token*, TOKEN_KINDS> spelling;
    std::array<std::uint16_t, TOKEN_KINDS> rank_of;
    std::array<std::uint8_t, 256> letter_of;  // bytes renumbered in byte order
    int alphabet = 0;                          // bytes in the block: the space and the digits present
    int longest_value = 0;                     // digits of the longest value present
    std::uint32_t ranks = 0;
    // By rank: the deals, and the letter for the empty suffix.
    std::array<std::array<Deal, DEALT>, TOKEN_KINDS> deals;
    std::array<std::uint8_t, TOKEN_KINDS> last_letter;
    // The buckets' strings in order (as string_order_key), and where each
    // bucket's next letter goes, then the idle slots'.
    int buckets = 0;
    std::array<std::uint32_t, MAX_BUCKETS> keys;
    std::array<std::uint32_t, MAX_BUCKETS + DEALT> next;

    // Plans the block whose values wholly inside are tokens[0..count), then block.wrap.
    void make(const std::uint16_t* tokens, std::size_t count, const DecimalBlock& block);
    std::uint16_t bucket_of(const Token& t, int skip) const;
};

}  // namespace veltrane::bz2_length
