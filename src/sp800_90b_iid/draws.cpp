#include "sp800_90b_iid/draws.hpp"

#include <algorithm>
#include <utility>

#include "pool/cancel.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace veltrane::sp800_90b::iid {

namespace {

// Rounds shorter than this many draws a lane are drawn one by one.
constexpr std::size_t MIN_LANE_DRAWS = 256;

// One lane's draws one by one: positions [from, to) of the round's stream,
// position p drawing for i = n - 1 - p.
void draw_lane(Xoshiro256& g, std::size_t n, std::size_t from, std::size_t to, std::uint32_t* out) {
    for (std::size_t p = from; p < to; ++p) {
        if ((p & 0xFFFF) == 0) pool::checkpoint();
        out[p] = static_cast<std::uint32_t>(g.draw(n - 1 - p));
    }
}

#if defined(__x86_64__)
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

// The four lanes side by side for `steps` draws each, their states in and out
// of `lanes`. Returns false if some draw's low word fell below its range,
// where the one-by-one draw might draw again.
[[gnu::target("avx2")]] bool draw_lanes(Xoshiro256::State (&lanes)[LANES], std::size_t n, std::size_t stretch,
                                        std::size_t steps, std::uint32_t* out) {
    alignas(32) std::uint64_t word[LANES][4];
    for (unsigned k = 0; k < LANES; ++k) {
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
        const __m256i lane[LANES] = {_mm256_permute2x128_si256(a, c, 0x20), _mm256_permute2x128_si256(b, d, 0x20),
                                     _mm256_permute2x128_si256(a, c, 0x31), _mm256_permute2x128_si256(b, d, 0x31)};
        for (unsigned k = 0; k < LANES; ++k) {
            const __m128i words = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(lane[k], evens));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k * stretch + t), words);
        }
    }
    alignas(32) std::uint64_t drawn[4];
    for (; t < steps; ++t) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(drawn), step(q));
        for (unsigned k = 0; k < LANES; ++k) out[k * stretch + t] = static_cast<std::uint32_t>(drawn[k]);
    }
    _mm256_store_si256(reinterpret_cast<__m256i*>(word[0]), q.s0);
    _mm256_store_si256(reinterpret_cast<__m256i*>(word[1]), q.s1);
    _mm256_store_si256(reinterpret_cast<__m256i*>(word[2]), q.s2);
    _mm256_store_si256(reinterpret_cast<__m256i*>(word[3]), q.s3);
    for (unsigned k = 0; k < LANES; ++k) {
        for (unsigned w = 0; w < 4; ++w) lanes[k][w] = word[w][k];
    }
    return _mm256_testz_si256(q.low_seen, q.low_seen) != 0;
}
#endif

}  // namespace

bool RoundDraws::vectorised() noexcept {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
#else
    return false;
#endif
}

RoundDraws::RoundDraws(std::size_t n) : n_(n), stretch_((n - 1 + LANES - 1) / LANES), jump_(stretch_) {}

Xoshiro256::State RoundDraws::draw(const Xoshiro256::State& start, std::uint32_t* to) const {
    const std::size_t total = n_ - 1;
#if defined(__x86_64__)
    if (vectorised() && total >= MIN_LANE_DRAWS * LANES) {
        Xoshiro256::State lanes[LANES];
        lanes[0] = start;
        for (unsigned k = 1; k < LANES; ++k) lanes[k] = jump_.apply(lanes[k - 1]);
        const std::size_t last = total - (LANES - 1) * stretch_;  // the last lane's draws
        bool exact = draw_lanes(lanes, n_, stretch_, last, to);
        for (unsigned k = 0; exact && k + 1 < LANES; ++k) {
            Xoshiro256 g(lanes[k]);
            // The rest of each longer lane, watching for the same rare case.
            for (std::size_t p = k * stretch_ + last; p < (k + 1) * stretch_; ++p) {
                const std::size_t range = n_ - p;
                const unsigned __int128 m = static_cast<unsigned __int128>(g.next()) * range;
                exact = exact && static_cast<std::uint64_t>(m) >= range;
                to[p] = static_cast<std::uint32_t>(m >> 64);
            }
        }
        if (exact) return lanes[LANES - 1];
    }
#endif
    Xoshiro256 g(start);
    draw_lane(g, n_, 0, total, to);
    return g.state();
}

void swap_by(std::uint8_t* a, const std::uint32_t* to, std::size_t n) {
    for (std::size_t p = 0; p + 1 < n; ++p) {
        if ((p & 0xFFFF) == 0) pool::checkpoint();
        std::swap(a[n - 1 - p], a[to[p]]);
    }
}

}  // namespace veltrane::sp800_90b::iid
