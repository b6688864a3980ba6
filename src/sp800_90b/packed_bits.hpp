// Bits (one per byte, 0 or 1) packed 64 to a word, for the estimators that
// work on whole words of the sequence. Packing a bit at a time into a word in
// memory chains every step on the one before (a store and a reload of the same
// word); sixteen bytes at a time through the sign-bit mask take one
// instruction for sixteen bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace veltrane::sp800_90b {

// The word of bits[0..count) (count <= 64, each byte 0 or 1), bits[i] at bit i.
inline std::uint64_t pack_low_first(const std::uint8_t* bits, unsigned count) {
    std::uint64_t word = 0;
    unsigned i = 0;
#ifdef __SSE2__
    for (; i + 16 <= count; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bits + i));
        // 1 in a byte becomes its top bit; the lanes' shift moves no bit into the next byte
        word |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_slli_epi64(v, 7)))} << i;
    }
#endif
    for (; i < count; ++i) word |= std::uint64_t{bits[i] & 1u} << i;
    return word;
}

// The same word with its bits in the opposite order (bits[0] at bit 63).
inline std::uint64_t reversed_bits(std::uint64_t v) {
    v = ((v >> 1) & 0x5555555555555555ULL) | ((v & 0x5555555555555555ULL) << 1);
    v = ((v >> 2) & 0x3333333333333333ULL) | ((v & 0x3333333333333333ULL) << 2);
    v = ((v >> 4) & 0x0F0F0F0F0F0F0F0FULL) | ((v & 0x0F0F0F0F0F0F0F0FULL) << 4);
    return __builtin_bswap64(v);
}

// bits[0..n) as words, bit p at bit p % 64 of word p / 64, with `spare` zero
// words after the last (so that a read of two neighbouring words never runs out).
inline std::vector<std::uint64_t> packed_low_first(const std::uint8_t* bits, std::size_t n, std::size_t spare = 1) {
    std::vector<std::uint64_t> words(n / 64 + 1 + spare, 0);
    for (std::size_t w = 0; w * 64 < n; ++w) {
        const std::size_t first = w * 64;
        words[w] = pack_low_first(bits + first, static_cast<unsigned>(n - first < 64 ? n - first : 64));
    }
    return words;
}

}  // namespace veltrane::sp800_90b
