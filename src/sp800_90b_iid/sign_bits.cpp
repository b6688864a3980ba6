#include "sp800_90b_iid/sign_bits.hpp"

#include <cstring>

#include "util/popcount.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace veltrane::sp800_90b::iid {

namespace {

// Fills `out` with m bits: whole words from `sixteen(i)` (the 16 bits from
// position i, i a multiple of 16), the rest from `one(i)`.
template <class Sixteen, class One>
void build(std::size_t m, std::vector<std::uint64_t>& out, Sixteen&& sixteen, One&& one) {
    out.assign(m / 64 + 2, 0);
    std::size_t i = 0;
    for (; i + 64 <= m; i += 64) {
        out[i / 64] = static_cast<std::uint64_t>(sixteen(i)) | static_cast<std::uint64_t>(sixteen(i + 16)) << 16 |
                      static_cast<std::uint64_t>(sixteen(i + 32)) << 32 |
                      static_cast<std::uint64_t>(sixteen(i + 48)) << 48;
    }
    for (; i < m; ++i) {
        if (one(i)) out[i / 64] |= std::uint64_t{1} << (i % 64);
    }
}

// Sixteen bits from sixteen single tests, where there is no vector compare.
template <class One>
auto sixteen_of(One one) {
    return [one](std::size_t i) {
        unsigned bits = 0;
        for (unsigned q = 0; q < 16; ++q) bits |= static_cast<unsigned>(one(i + q)) << q;
        return bits;
    };
}

#if defined(__SSE2__)
// Unsigned bytes compared as signed ones after flipping their top bits.
inline __m128i load_flipped(const std::uint8_t* p) {
    return _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_set1_epi8(static_cast<char>(0x80)));
}
inline unsigned mask_of(__m128i m) { return static_cast<unsigned>(_mm_movemask_epi8(m)); }
#endif

}  // namespace

void decrease_bits(const std::uint8_t* a, std::size_t len, std::vector<std::uint64_t>& out) {
    const std::size_t m = len == 0 ? 0 : len - 1;
    auto one = [a](std::size_t i) { return a[i] > a[i + 1]; };
#if defined(__SSE2__)
    build(m, out, [a](std::size_t i) { return mask_of(_mm_cmpgt_epi8(load_flipped(a + i), load_flipped(a + i + 1))); },
          one);
#else
    build(m, out, sixteen_of(one), one);
#endif
}

void below_bits(const std::uint8_t* a, std::size_t len, unsigned threshold, std::vector<std::uint64_t>& out) {
    if (threshold > 255) {
        // Every value lies below: all ones.
        out.assign(len / 64 + 2, ~std::uint64_t{0});
        return;
    }
    auto one = [a, threshold](std::size_t i) { return a[i] < threshold; };
#if defined(__SSE2__)
    const __m128i limit = _mm_set1_epi8(static_cast<char>(threshold ^ 0x80));
    build(len, out, [a, limit](std::size_t i) { return mask_of(_mm_cmplt_epi8(load_flipped(a + i), limit)); }, one);
#else
    build(len, out, sixteen_of(one), one);
#endif
}

void equal_bits(const std::uint8_t* a, std::size_t len, std::uint8_t value, std::vector<std::uint64_t>& out) {
    auto one = [a, value](std::size_t i) { return a[i] == value; };
#if defined(__SSE2__)
    const __m128i v = _mm_set1_epi8(static_cast<char>(value));
    build(len, out, [a, v](std::size_t i) {
        return mask_of(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)), v));
    }, one);
#else
    build(len, out, sixteen_of(one), one);
#endif
}

std::uint64_t equal_pairs(const std::uint8_t* a, std::size_t len, std::size_t lag) {
    if (len <= lag) return 0;
    const std::size_t m = len - lag;
    std::uint64_t count = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 64 <= m; i += 64) {
        std::uint64_t word = 0;
        for (unsigned q = 0; q < 4; ++q) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i + 16 * q));
            const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i + 16 * q + lag));
            word |= static_cast<std::uint64_t>(mask_of(_mm_cmpeq_epi8(x, y))) << (16 * q);
        }
        count += util::popcount64(word);
    }
#endif
    for (; i < m; ++i) count += a[i] == a[i + lag];
    return count;
}

}  // namespace veltrane::sp800_90b::iid
