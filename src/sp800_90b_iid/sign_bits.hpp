// Comparisons of byte sequences as bits, 64 to a word (bit i of the result is
// bit i % 64 of word i / 64; the vector could hold one word more than needed),
// sixteen bytes a step where the processor has SSE2 (every x86-64 does).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace veltrane::sp800_90b::iid {

// bit i = a[i] > a[i + 1], for i < len - 1.
void decrease_bits(const std::uint8_t* a, std::size_t len, std::vector<std::uint64_t>& out);
// bit i = a[i] < threshold (threshold 256: every bit set), for i < len.
void below_bits(const std::uint8_t* a, std::size_t len, unsigned threshold, std::vector<std::uint64_t>& out);
// bit i = a[i] == value, for i < len.
void equal_bits(const std::uint8_t* a, std::size_t len, std::uint8_t value, std::vector<std::uint64_t>& out);
// The number of i < len - lag with a[i] == a[i + lag].
std::uint64_t equal_pairs(const std::uint8_t* a, std::size_t len, std::size_t lag);

// The ones of each byte value (Conversion I of binary data).
inline constexpr std::array<std::uint8_t, 256> ONES_IN_BYTE = [] {
    std::array<std::uint8_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
        for (unsigned x = b; x != 0; x &= x - 1) ++t[b];
    }
    return t;
}();

}  // namespace veltrane::sp800_90b::iid
