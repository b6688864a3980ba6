// The vector kernels of RoundDraws: its lanes' streams side by side, four in
// AVX2 registers or eight in AVX-512 ones (which rotate in one instruction and
// compare unsigned words), each drawing for its stretch of the round.
#include "sp800_90b_iid/draw_kernels.hpp"

#include "pool/cancel.hpp"

#if defined(__x86_64__)
// GCC 12's AVX-512 intrinsics start some results from a deliberately
// undefined vector, which its own flow analysis then reports as maybe used
// uninitialised; the results are fully written.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

namespace veltrane::sp800_90b::iid {

namespace {

[[gnu::target("avx2")]] inline __m256i rotl(__m256i x, int k) {
    return _mm256_or_si256(_mm256_slli_epi64(x, k), _mm256_srli_epi64(x, 64 - k));
}

// The four streams side by side: their states, each lane's range (i + 1) at
// its next draw, and whether some draw's low word fell below its range.
struct Streams {
    __m256i s0, s1, s2, s3, range, low_seen;
};

// One step of the four streams: the next draws' high words.
[[gnu::target("avx2")]] inline __m256i step(Streams& q) {
    // result = rotl(s1 * 5, 7) * 9, the multiplications as shifts and adds.
    const __m256i times5 = _mm256_add_epi64(q.s1, _mm256_slli_epi64(q.s1, 2));
    const __m256i rotated = rotl(times5, 7);
    const __m256i x = _mm256_add_epi64(rotated, _mm256_slli_epi64(rotated, 3));
    const __m256i shifted = _mm256_slli_epi64(q.s1, 17);
    q.s2 = _mm256_xor_si256(q.s2, q.s0);
    q.s3 = _mm256_xor_si256(q.s3, q.s1);
    q.s1 = _mm256_xor_si256(q.s1, q.s2);
    q.s0 = _mm256_xor_si256(q.s0, q.s3);
    q.s2 = _mm256_xor_si256(q.s2, shifted);
    q.s3 = rotl(q.s3, 45);
    // x * range with range below 2^32: the halves of x times range.
    const __m256i low_part = _mm256_mul_epu32(x, q.range);
    const __m256i high_part = _mm256_mul_epu32(_mm256_srli_epi64(x, 32), q.range);
    const __m256i high = _mm256_srli_epi64(_mm256_add_epi64(high_part, _mm256_srli_epi64(low_part, 32)), 32);
    const __m256i low = _mm256_add_epi64(_mm256_slli_epi64(high_part, 32), low_part);
    // Unsigned low < range, as signed after flipping the top bits.
    const __m256i top = _mm256_set1_epi64x(static_cast<long long>(1ULL << 63));
    q.low_seen = _mm256_or_si256(q.low_seen, _mm256_cmpgt_epi64(_mm256_xor_si256(q.range, top), _mm256_xor_si256(low, top)));
    q.range = _mm256_sub_epi64(q.range, _mm256_set1_epi64x(1));
    return high;
}

}  // namespace

[[gnu::target("avx2")]] bool draw_lanes_avx2(Xoshiro256::State* lanes, std::size_t n, std::size_t stretch, std::size_t steps,
                     std::uint32_t* out) {
    alignas(32) std::uint64_t word[4][4];
    for (unsigned k = 0; k < 4; ++k) {
        for (unsigned w = 0; w < 4; ++w) word[w][k] = lanes[k][w];
    }
    __m256i s0 = _mm256_load_si256(reinterpret_cast<const __m256i*>(word[0]));
    __m256i s1 = _mm256_load_si256(reinterpret_cast<const __m256i*>(word[1]));
    __m256i s2 = _mm256_load_si256(reinterpret_cast<const __m256i*>(word[2]));
    __m256i s3 = _mm256_load_si256(reinterpret_cast<const __m256i*>(word[3]));
    // Lane k draws for i + 1 = n - k * stretch - t at step t.
    __m256i range = _mm256_setr_epi64x(static_cast<long long>(n), static_cast<long long>(n - stretch),
                                       static_cast<long long>(n - 2 * stretch), static_cast<long long>(n - 3 * stretch));
    const __m256i evens = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    Streams q{s0, s1, s2, s3, range, _mm256_setzero_si256()};
    std::size_t t = 0;
    // Four steps at a time, turned lane-major: each lane's four draws are
    // consecutive positions, stored as four 32-bit words.
    for (; t + 4 <= steps; t += 4) {
        if ((t & 0xFFFF) == 0) pool::checkpoint();
        const __m256i h0 = step(q), h1 = step(q), h2 = step(q), h3 = step(q);
        const __m256i a = _mm256_unpacklo_epi64(h0, h1), b = _mm256_unpackhi_epi64(h0, h1);
        const __m256i c = _mm256_unpacklo_epi64(h2, h3), d = _mm256_unpackhi_epi64(h2, h3);
        const __m256i lane[4] = {_mm256_permute2x128_si256(a, c, 0x20), _mm256_permute2x128_si256(b, d, 0x20),
                                     _mm256_permute2x128_si256(a, c, 0x31), _mm256_permute2x128_si256(b, d, 0x31)};
        for (unsigned k = 0; k < 4; ++k) {
            const __m128i words = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(lane[k], evens));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k * stretch + t), words);
        }
    }
    alignas(32) std::uint64_t drawn[4];
    for (; t < steps; ++t) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(drawn), step(q));
        for (unsigned k = 0; k < 4; ++k) out[k * stretch + t] = static_cast<std::uint32_t>(drawn[k]);
    }
    _mm256_store_si256(reinterpret_cast<__m256i*>(word[0]), q.s0);
    _mm256_store_si256(reinterpret_cast<__m256i*>(word[1]), q.s1);
    _mm256_store_si256(reinterpret_cast<__m256i*>(word[2]), q.s2);
    _mm256_store_si256(reinterpret_cast<__m256i*>(word[3]), q.s3);
    for (unsigned k = 0; k < 4; ++k) {
        for (unsigned w = 0; w < 4; ++w) lanes[k][w] = word[w][k];
    }
    return _mm256_testz_si256(q.low_seen, q.low_seen) != 0;
}

namespace {

// Eight streams side by side, as Streams above.
struct Streams8 {
    __m512i s0, s1, s2, s3, range;
    __mmask8 low_seen;
};

// One step of the eight streams: the next draws' high words, as 32-bit words.
[[gnu::target("avx512f")]] inline __m256i step(Streams8& q) {
    const __m512i times5 = _mm512_add_epi64(q.s1, _mm512_slli_epi64(q.s1, 2));
    const __m512i rotated = _mm512_rol_epi64(times5, 7);
    const __m512i x = _mm512_add_epi64(rotated, _mm512_slli_epi64(rotated, 3));
    const __m512i shifted = _mm512_slli_epi64(q.s1, 17);
    q.s2 = _mm512_xor_si512(q.s2, q.s0);
    q.s3 = _mm512_xor_si512(q.s3, q.s1);
    q.s1 = _mm512_xor_si512(q.s1, q.s2);
    q.s0 = _mm512_xor_si512(q.s0, q.s3);
    q.s2 = _mm512_xor_si512(q.s2, shifted);
    q.s3 = _mm512_rol_epi64(q.s3, 45);
    const __m512i low_part = _mm512_mul_epu32(x, q.range);
    const __m512i high_part = _mm512_mul_epu32(_mm512_srli_epi64(x, 32), q.range);
    const __m512i high = _mm512_srli_epi64(_mm512_add_epi64(high_part, _mm512_srli_epi64(low_part, 32)), 32);
    const __m512i low = _mm512_add_epi64(_mm512_slli_epi64(high_part, 32), low_part);
    q.low_seen = static_cast<__mmask8>(q.low_seen | _mm512_cmplt_epu64_mask(low, q.range));
    q.range = _mm512_sub_epi64(q.range, _mm512_set1_epi64(1));
    return _mm512_cvtepi64_epi32(high);
}

}  // namespace

[[gnu::target("avx512f")]] bool draw_lanes_avx512(Xoshiro256::State* lanes, std::size_t n, std::size_t stretch,
                                                  std::size_t steps, std::uint32_t* out) {
    alignas(64) std::uint64_t word[4][8];
    for (unsigned k = 0; k < 8; ++k) {
        for (unsigned w = 0; w < 4; ++w) word[w][k] = lanes[k][w];
    }
    alignas(64) std::uint64_t ranges[8];
    for (unsigned k = 0; k < 8; ++k) ranges[k] = n - k * stretch;  // lane k draws for i + 1 = n - k stretch - t
    Streams8 q{_mm512_load_si512(word[0]), _mm512_load_si512(word[1]), _mm512_load_si512(word[2]),
               _mm512_load_si512(word[3]), _mm512_load_si512(ranges), 0};
    std::size_t t = 0;
    // Eight steps at a time, turned lane-major (an 8 x 8 transpose of 32-bit
    // words): each lane's eight draws are consecutive positions, one store.
    for (; t + 8 <= steps; t += 8) {
        if ((t & 0xFFFF) == 0) pool::checkpoint();
        __m256i r[8];
        for (__m256i& row : r) row = step(q);
        const __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]), t1 = _mm256_unpackhi_epi32(r[0], r[1]);
        const __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]), t3 = _mm256_unpackhi_epi32(r[2], r[3]);
        const __m256i t4 = _mm256_unpacklo_epi32(r[4], r[5]), t5 = _mm256_unpackhi_epi32(r[4], r[5]);
        const __m256i t6 = _mm256_unpacklo_epi32(r[6], r[7]), t7 = _mm256_unpackhi_epi32(r[6], r[7]);
        const __m256i u[8] = {_mm256_unpacklo_epi64(t0, t2), _mm256_unpackhi_epi64(t0, t2),
                              _mm256_unpacklo_epi64(t1, t3), _mm256_unpackhi_epi64(t1, t3),
                              _mm256_unpacklo_epi64(t4, t6), _mm256_unpackhi_epi64(t4, t6),
                              _mm256_unpacklo_epi64(t5, t7), _mm256_unpackhi_epi64(t5, t7)};
        for (unsigned k = 0; k < 4; ++k) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k * stretch + t),
                                _mm256_permute2x128_si256(u[k], u[k + 4], 0x20));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + (k + 4) * stretch + t),
                                _mm256_permute2x128_si256(u[k], u[k + 4], 0x31));
        }
    }
    alignas(32) std::uint32_t drawn[8];
    for (; t < steps; ++t) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(drawn), step(q));
        for (unsigned k = 0; k < 8; ++k) out[k * stretch + t] = drawn[k];
    }
    _mm512_store_si512(word[0], q.s0);
    _mm512_store_si512(word[1], q.s1);
    _mm512_store_si512(word[2], q.s2);
    _mm512_store_si512(word[3], q.s3);
    for (unsigned k = 0; k < 8; ++k) {
        for (unsigned w = 0; w < 4; ++w) lanes[k][w] = word[w][k];
    }
    return q.low_seen == 0;
}

}  // namespace veltrane::sp800_90b::iid

#pragma GCC diagnostic pop
#endif
