#include "battery/kernel.hpp"

#include <algorithm>
#include <cstring>

#include "battery/state.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VELTRANE_BATTERY_AVX2 1
#include <immintrin.h>
#endif

namespace veltrane::battery::kernel {

namespace {

constexpr std::uint64_t RADIUS_SQUARED = ((std::uint64_t{1} << 24) - 1) * ((std::uint64_t{1} << 24) - 1);

// Pairs whose products fit one 32-bit sum: 65025 * 65536 < 2^32.
constexpr std::size_t PAIR_BLOCK = 65536;

}  // namespace

PairSums pair_sums_portable(const std::uint8_t* data, std::size_t n) {
    PairSums sums;
    for (std::size_t base = 0; base + 1 < n; base += PAIR_BLOCK) {
        const std::size_t end = std::min(n - 1, base + PAIR_BLOCK);
        std::uint32_t products = 0, seams = 0;
        for (std::size_t i = base; i < end; ++i) {
            const std::uint32_t a = data[i], b = data[i + 1];
            products += a * b;
            seams += a & (b >> 7) & 1u;
        }
        sums.products += products;
        sums.seams += seams;
    }
    return sums;
}

std::uint64_t monte_carlo_hits_portable(const std::uint8_t* data, std::size_t groups) {
    std::uint64_t hits = 0;
    for (std::size_t g = 0; g < groups; ++g, data += MC_GROUP) hits += mc_hit(data) ? 1 : 0;
    return hits;
}

#ifdef VELTRANE_BATTERY_AVX2

bool have_avx2() {
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
}

// 32 pairs a step: products as 16-bit lanes through vpmaddwd into 32-bit
// sums, seam pairs as byte flags into 8-bit counters. A block of 255 steps
// keeps both below their limits (255 * 2 * 2 * 65025 < 2^31, 255 < 2^8)
// before they are widened to 64 bits.
[[gnu::target("avx2")]] PairSums pair_sums_avx2(const std::uint8_t* p, std::size_t n) {
    PairSums sums;
    if (n < 2) return sums;
    const std::size_t pairs = n - 1;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low_bit = _mm256_set1_epi8(1);
    __m256i wide_products = zero, wide_seams = zero;
    std::size_t i = 0;
    while (i + 32 <= pairs) {
        const std::size_t stop = std::min(pairs, i + 32 * 255);
        __m256i products = zero, seams = zero;
        for (; i + 32 <= stop; i += 32) {
            const auto at = [&](std::size_t k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k)); };
            const __m256i a0 = _mm256_cvtepu8_epi16(at(i)), b0 = _mm256_cvtepu8_epi16(at(i + 1));
            const __m256i a1 = _mm256_cvtepu8_epi16(at(i + 16)), b1 = _mm256_cvtepu8_epi16(at(i + 17));
            products = _mm256_add_epi32(products, _mm256_madd_epi16(a0, b0));
            products = _mm256_add_epi32(products, _mm256_madd_epi16(a1, b1));
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 1));
            // (b >> 7) per byte: a 16-bit shift moves each byte's top bit to its bit 0.
            seams = _mm256_add_epi8(seams, _mm256_and_si256(_mm256_and_si256(a, _mm256_srli_epi16(b, 7)), low_bit));
        }
        wide_products = _mm256_add_epi64(wide_products, _mm256_unpacklo_epi32(products, zero));
        wide_products = _mm256_add_epi64(wide_products, _mm256_unpackhi_epi32(products, zero));
        wide_seams = _mm256_add_epi64(wide_seams, _mm256_sad_epu8(seams, zero));
    }
    alignas(32) std::uint64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), wide_products);
    sums.products = lanes[0] + lanes[1] + lanes[2] + lanes[3];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), wide_seams);
    sums.seams = lanes[0] + lanes[1] + lanes[2] + lanes[3];
    const PairSums rest = pair_sums_portable(p + i, n - i);
    sums.products += rest.products;
    sums.seams += rest.seams;
    return sums;
}

// Four groups a step: two 12-byte halves, each shuffled into big-endian
// 32-bit lanes [x0, y0, x1, y1]; 32x32->64-bit products give x^2 and y^2
// exactly, and a 64-bit compare counts the points outside.
[[gnu::target("avx2")]] std::uint64_t monte_carlo_hits_avx2(const std::uint8_t* p, std::size_t groups) {
    const __m256i order = _mm256_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1,  //
                                           2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    const __m256i radius_squared = _mm256_set1_epi64x(static_cast<long long>(RADIUS_SQUARED));
    __m256i misses = _mm256_setzero_si256();
    std::size_t g = 0;
    // The last step's second load reads 4 bytes past its 24: keep them inside the groups.
    for (; g + 5 <= groups; g += 4, p += 4 * MC_GROUP) {
        __m256i v = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 12), reinterpret_cast<const __m128i*>(p));
        v = _mm256_shuffle_epi8(v, order);
        const __m256i xx = _mm256_mul_epu32(v, v);
        const __m256i y = _mm256_srli_epi64(v, 32);
        const __m256i sum = _mm256_add_epi64(xx, _mm256_mul_epu32(y, y));
        misses = _mm256_sub_epi64(misses, _mm256_cmpgt_epi64(sum, radius_squared));
    }
    alignas(32) std::uint64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), misses);
    const std::uint64_t hits = g - (lanes[0] + lanes[1] + lanes[2] + lanes[3]);
    return hits + monte_carlo_hits_portable(p, groups - g);
}

PairSums pair_sums(const std::uint8_t* data, std::size_t n) {
    return have_avx2() ? pair_sums_avx2(data, n) : pair_sums_portable(data, n);
}

std::uint64_t monte_carlo_hits(const std::uint8_t* data, std::size_t groups) {
    return have_avx2() ? monte_carlo_hits_avx2(data, groups) : monte_carlo_hits_portable(data, groups);
}

#else

bool have_avx2() { return false; }
PairSums pair_sums_avx2(const std::uint8_t* data, std::size_t n) { return pair_sums_portable(data, n); }
std::uint64_t monte_carlo_hits_avx2(const std::uint8_t* data, std::size_t groups) {
    return monte_carlo_hits_portable(data, groups);
}
PairSums pair_sums(const std::uint8_t* data, std::size_t n) { return pair_sums_portable(data, n); }
std::uint64_t monte_carlo_hits(const std::uint8_t* data, std::size_t groups) {
    return monte_carlo_hits_portable(data, groups);
}

#endif

}  // namespace veltrane::battery::kernel
