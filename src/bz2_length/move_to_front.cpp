#include "bz2_length/move_to_front.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "pool/cancel.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace veltrane::bz2_length {

namespace {

// Appends a run of `zeros` (> 0) first positions: the length's bijective
// base-2 digits, least significant first.
inline std::uint16_t* put_run(std::size_t zeros, std::uint16_t* out) {
    for (;;) {
        --zeros;
        *out++ = (zeros & 1) ? RUN_B : RUN_A;
        if (zeros < 2) return out;
        zeros >>= 1;
    }
}

// Any alphabet: the list itself, searched and shifted.
std::size_t general(const std::uint8_t* letters, std::size_t n, int alphabet, std::uint16_t* symbols) {
    std::uint8_t list[256];
    for (int i = 0; i < alphabet; ++i) list[i] = static_cast<std::uint8_t>(i);
    std::uint16_t* out = symbols;
    std::size_t zeros = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if ((i & 0xffff) == 0xffff) pool::checkpoint();
        const std::uint8_t c = letters[i];
        if (list[0] == c) {
            ++zeros;
            continue;
        }
        if (zeros) out = put_run(zeros, out), zeros = 0;
        int at = 1;
        while (list[at] != c) ++at;
        std::memmove(list + 1, list, at);
        list[0] = c;
        *out++ = static_cast<std::uint16_t>(at + 1);
    }
    if (zeros) out = put_run(zeros, out);
    *out++ = static_cast<std::uint16_t>(alphabet + 1);
    return out - symbols;
}

#if defined(__SSE2__)
// Up to 16 letters: a letter's position is the number of letters used since
// it was last used, so each lane keeps the step of its letter's last use and a
// position is one comparison of all lanes. Steps count in 16 bits, renumbered
// by rank before they overflow; unused lanes sit below every used one.
std::size_t small(const std::uint8_t* letters, std::size_t n, int alphabet, std::uint16_t* symbols) {
    constexpr int LANES = 16;
    constexpr std::int16_t NEVER = -32768;
    constexpr std::int32_t RENUMBER_AT = 32767;
    alignas(16) std::int16_t last[LANES];
    for (int i = 0; i < LANES; ++i) last[i] = i < alphabet ? static_cast<std::int16_t>(-1 - i) : NEVER;
    std::uint16_t* out = symbols;
    std::size_t zeros = 0;
    std::size_t i = 0;
    while (i < n) {
        // Renumber by rank: order is all that counts.
        alignas(16) std::int16_t ranked[LANES];
        for (int a = 0; a < LANES; ++a) {
            int below = 0;
            for (int b = 0; b < LANES; ++b) below += last[b] < last[a];
            ranked[a] = static_cast<std::int16_t>(below - LANES);
        }
        std::memcpy(last, ranked, sizeof last);
        __m128i lo = _mm_load_si128(reinterpret_cast<const __m128i*>(last));
        __m128i hi = _mm_load_si128(reinterpret_cast<const __m128i*>(last + 8));
        const __m128i lane_lo = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
        const __m128i lane_hi = _mm_setr_epi16(8, 9, 10, 11, 12, 13, 14, 15);
        const std::size_t stop = std::min(n, i + RENUMBER_AT);
        for (std::int16_t step = 0; i < stop; ++i, ++step) {
            const std::uint8_t c = letters[i];
            const __m128i mine = _mm_set1_epi16(last[c]);
            const unsigned newer = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(
                _mm_cmpgt_epi16(lo, mine), _mm_cmpgt_epi16(hi, mine))));
            const int at = std::popcount(newer);
            last[c] = step;
            const __m128i which = _mm_set1_epi16(c), now = _mm_set1_epi16(step);
            const __m128i in_lo = _mm_cmpeq_epi16(lane_lo, which), in_hi = _mm_cmpeq_epi16(lane_hi, which);
            lo = _mm_or_si128(_mm_andnot_si128(in_lo, lo), _mm_and_si128(in_lo, now));
            hi = _mm_or_si128(_mm_andnot_si128(in_hi, hi), _mm_and_si128(in_hi, now));
            if (at == 0) {
                ++zeros;
                continue;
            }
            if (zeros) out = put_run(zeros, out), zeros = 0;
            *out++ = static_cast<std::uint16_t>(at + 1);
        }
        pool::checkpoint();
    }
    if (zeros) out = put_run(zeros, out);
    *out++ = static_cast<std::uint16_t>(alphabet + 1);
    return out - symbols;
}
#endif

}  // namespace

std::size_t move_to_front_symbols(const std::uint8_t* letters, std::size_t n, int alphabet, std::uint16_t* symbols) {
#if defined(__SSE2__)
    if (alphabet <= 16) return small(letters, n, alphabet, symbols);
#endif
    return general(letters, n, alphabet, symbols);
}

}  // namespace veltrane::bz2_length
