// The ±1 walk of a sequence (a one steps up, a zero down), a byte at a time:
// each byte's net step and the highest and lowest points of its eight steps.
#pragma once

#include <array>
#include <cstdint>

#include "sp800_22/bits.hpp"

namespace veltrane::sp800_22 {

struct ByteSteps {
    std::int8_t net = 0;      // the walk's change over the byte
    std::int8_t highest = 0;  // the highest of the eight partial sums, relative to the start
    std::int8_t lowest = 0;   // the lowest
};

inline constexpr std::array<ByteSteps, 256> BYTE_STEPS = [] {
    std::array<ByteSteps, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        int s = 0, high = -8, low = 8;
        for (int b = 7; b >= 0; --b) {
            s += (byte >> b) & 1 ? 1 : -1;
            high = s > high ? s : high;
            low = s < low ? s : low;
        }
        table[byte] = {static_cast<std::int8_t>(s), static_cast<std::int8_t>(high), static_cast<std::int8_t>(low)};
    }
    return table;
}();

// The byte of bits [8j, 8j + 8).
inline unsigned byte_at(const Bits& bits, std::uint64_t j) {
    return static_cast<unsigned>(bits.words()[j >> 3] >> (56 - 8 * (j & 7))) & 0xFF;
}

// The extremes of S_0 = 0, S_1, ..., S_n, and S_n.
struct WalkExtremes {
    std::int64_t highest = 0, lowest = 0, end = 0;
};

WalkExtremes walk_extremes(const Bits& bits);

}  // namespace veltrane::sp800_22
