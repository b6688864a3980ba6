// Sample values as the decimal text spells them, and the order of digit
// strings each followed by a space, which is the order of the text's rotations
// that start at them: a space sorts below every digit, so a string sorts before
// its own extensions.
#pragma once

#include <array>
#include <cstdint>

namespace veltrane::bz2_length {

// The longest token a block can hold: where a block's end and start meet, the
// start of one value's digits joins the end of another's (3 + 3).
inline constexpr int LONGEST_TOKEN = 6;

struct Token {
    std::uint8_t length = 0;
    char digits[LONGEST_TOKEN] = {};
};

inline constexpr std::array<Token, 256> VALUE_TOKENS = [] {
    std::array<Token, 256> tokens{};
    for (int v = 0; v < 256; ++v) {
        Token& t = tokens[v];
        if (v >= 100) t.digits[t.length++] = static_cast<char>('0' + v / 100);
        if (v >= 10) t.digits[t.length++] = static_cast<char>('0' + v / 10 % 10);
        t.digits[t.length++] = static_cast<char>('0' + v % 10);
    }
    return tokens;
}();

// A key whose order is that of digits[0..length) followed by a space: the
// digits in base 11 (a digit d as d + 1, the space as 0), padded to LONGEST_TOKEN.
inline std::uint32_t string_order_key(const char* digits, int length) {
    std::uint32_t key = 0;
    for (int j = 0; j < LONGEST_TOKEN; ++j) key = key * 11 + (j < length ? digits[j] - '0' + 1 : 0);
    return key;
}

}  // namespace veltrane::bz2_length
