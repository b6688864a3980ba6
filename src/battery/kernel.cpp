#include "battery/kernel.hpp"

#include <algorithm>
#include <cstring>

#include "battery/state.hpp"
#include "util/byte_lanes.hpp"

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

// Three passes over a block that stays in the cache.
BlockSums block_sums_portable(const std::uint8_t* data, std::size_t n, std::size_t lead, std::size_t groups,
                              util::ByteHistogram& hist) {
    util::count_block(data, n, hist);
    return {pair_sums_portable(data, n), monte_carlo_hits_portable(data + lead, groups)};
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
namespace {

constexpr std::size_t PAIR_STEPS = 255;

struct PairLanes {
    __m256i wide_products, wide_seams;  // 64-bit sums
    __m256i products, seams;            // since the last widening
};

[[gnu::target("avx2")]] inline void clear(PairLanes& l) {
    l.wide_products = l.wide_seams = l.products = l.seams = _mm256_setzero_si256();
}

// The pairs (i, i + 1) for i in [0, 32) from p; reads p[0, 33). Two loads:
// the 16-bit words at p hold the pairs that begin at even offsets (low byte
// times high byte, through vpmaddwd), those at p + 1 the odd ones; byte i of
// the second is byte i + 1 of the first, for the seam flags.
[[gnu::target("avx2")]] inline void pair_step(const std::uint8_t* p, PairLanes& l) {
    const __m256i even = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i odd = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
    const __m256i low = _mm256_set1_epi16(0xFF);
    l.products = _mm256_add_epi32(l.products, _mm256_madd_epi16(_mm256_and_si256(even, low), _mm256_srli_epi16(even, 8)));
    l.products = _mm256_add_epi32(l.products, _mm256_madd_epi16(_mm256_and_si256(odd, low), _mm256_srli_epi16(odd, 8)));
    // (b >> 7) per byte: a 16-bit shift moves each byte's top bit to its bit 0.
    l.seams = _mm256_add_epi8(l.seams, _mm256_and_si256(_mm256_and_si256(even, _mm256_srli_epi16(odd, 7)), _mm256_set1_epi8(1)));
}

// At most PAIR_STEPS steps after the last widening.
[[gnu::target("avx2")]] inline void widen(PairLanes& l) {
    const __m256i zero = _mm256_setzero_si256();
    l.wide_products = _mm256_add_epi64(l.wide_products, _mm256_unpacklo_epi32(l.products, zero));
    l.wide_products = _mm256_add_epi64(l.wide_products, _mm256_unpackhi_epi32(l.products, zero));
    l.wide_seams = _mm256_add_epi64(l.wide_seams, _mm256_sad_epu8(l.seams, zero));
    l.products = l.seams = zero;
}

[[gnu::target("avx2")]] inline std::uint64_t lane_sum(__m256i v) {
    alignas(32) std::uint64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
    return lanes[0] + lanes[1] + lanes[2] + lanes[3];
}

[[gnu::target("avx2")]] inline PairSums sums_of(PairLanes& l) {
    widen(l);
    return {lane_sum(l.wide_products), lane_sum(l.wide_seams)};
}

}  // namespace

namespace {

// Four groups a step: two 12-byte halves, each shuffled into big-endian
// 32-bit lanes [x0, y0, x1, y1]; 32x32->64-bit products give x^2 and y^2
// exactly, and a 64-bit compare counts the points outside. Reads p[0, 28).
[[gnu::target("avx2")]] inline void monte_carlo_step(const std::uint8_t* p, __m256i& misses) {
    const __m256i order = _mm256_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1,  //
                                           2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    const __m256i radius_squared = _mm256_set1_epi64x(static_cast<long long>(RADIUS_SQUARED));
    __m256i v = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 12), reinterpret_cast<const __m128i*>(p));
    v = _mm256_shuffle_epi8(v, order);
    const __m256i xx = _mm256_mul_epu32(v, v);
    const __m256i y = _mm256_srli_epi64(v, 32);
    const __m256i sum = _mm256_add_epi64(xx, _mm256_mul_epu32(y, y));
    misses = _mm256_sub_epi64(misses, _mm256_cmpgt_epi64(sum, radius_squared));
}

// The strides of the vector body: whole strides of 32 groups from `lead`,
// with `overread` bytes readable after the last (its last Monte Carlo load
// reaches past it, and its last pair reads the byte after it).
constexpr std::size_t STRIDE = 32 * MC_GROUP;

std::size_t body_strides(std::size_t n, std::size_t lead, std::size_t groups, std::size_t overread) {
    if (lead > n || n - lead < overread) return 0;
    return std::min(groups / 32, (n - lead - overread) / STRIDE);
}

// The head [0, lead) and the tail after the body through the portable loops,
// added to what the body summed.
BlockSums with_edges(const std::uint8_t* p, std::size_t n, std::size_t lead, std::size_t groups, std::size_t strides,
                     util::ByteLanes& counts, PairSums sums, std::uint64_t body_misses, util::ByteHistogram& hist) {
    const std::size_t body_end = lead + strides * STRIDE;
    counts.count(p, std::min(lead, n));
    counts.count(p + body_end, n - body_end);
    counts.add_to(hist);
    const PairSums head = pair_sums_portable(p, std::min(lead + 1, n));
    const PairSums tail = pair_sums_portable(p + body_end, n - body_end);
    sums.products += head.products + tail.products;
    sums.seams += head.seams + tail.seams;
    const std::uint64_t hits =
        strides * 32 - body_misses + monte_carlo_hits_portable(p + body_end, groups - strides * 32);
    return {sums, hits};
}

}  // namespace

// One pass instead of three: the histogram's scattered increments keep the
// load and store units busy and leave the vector units idle, so the pair sums
// and the Monte Carlo points on the same bytes cost little beside them. The
// body walks the groups 192 bytes (32 groups, 6 pair steps, 3 cache lines) at
// a time, widening the pair sums every 42 strides (252 pair steps); the bytes
// before the first group and after the body go through the portable loops.
//
// Each cache line's vector steps come right after its counts (line c's
// 24-byte Monte Carlo steps are those that begin in it): after all three
// lines' counts they stood some 700 instructions behind them, at the edge of
// what the core keeps in flight.
//
// Both vector versions share this body, a macro because each is compiled for
// its own instructions: LANES names the pair sums' registers (with their
// clear, pair_step, widen and sums_of), MC_STEP the Monte Carlo step and
// OVERREAD how far past its stride a stride's last step reads.
#define VELTRANE_ONE_PASS(NAME, TARGET, LANES, MC_STEP, OVERREAD)                                                \
    [[gnu::target(TARGET)]] BlockSums NAME(const std::uint8_t* p, std::size_t n, std::size_t lead,               \
                                           std::size_t groups, util::ByteHistogram& hist) {                      \
        const std::size_t strides = body_strides(n, lead, groups, OVERREAD);                                     \
        util::ByteLanes counts;                                                                                  \
        LANES pairs;                                                                                             \
        clear(pairs);                                                                                            \
        __m256i misses = _mm256_setzero_si256();                                                                 \
        for (std::size_t done = 0; done < strides;) {                                                            \
            const std::size_t stop = std::min(strides, done + PAIR_STEPS / 6);                                   \
            for (; done < stop; ++done) {                                                                        \
                const std::uint8_t* q = p + lead + done * STRIDE;                                                \
                constexpr std::size_t FIRST_STEP[] = {0, 2, 5, 8};                                               \
                _Pragma("GCC unroll 3") for (std::size_t c = 0; c < 3; ++c) {                                    \
                    counts.count64(q + 64 * c);                                                                  \
                    pair_step(q + 64 * c, pairs);                                                                \
                    pair_step(q + 64 * c + 32, pairs);                                                           \
                    _Pragma("GCC unroll 3") for (std::size_t m = FIRST_STEP[c]; m < FIRST_STEP[c + 1]; ++m) {    \
                        MC_STEP(q + 4 * MC_GROUP * m, misses);                                                   \
                    }                                                                                            \
                }                                                                                                \
            }                                                                                                    \
            widen(pairs);                                                                                        \
        }                                                                                                        \
        return with_edges(p, n, lead, groups, strides, counts, sums_of(pairs), lane_sum(misses), hist);          \
    }

// A Monte Carlo step reads 4 bytes past its 24.
VELTRANE_ONE_PASS(block_sums_avx2, "avx2", PairLanes, monte_carlo_step, 4)

// The same sums in fewer instructions where AVX-512's byte and dot-product
// instructions exist, still on 256-bit registers: 512-bit operations would
// take the ports the scalar increments use. With fewer vector instructions
// beside the increments the pass went from about 0.88 of the histogram's
// speed to about 0.93 (Intel, 2 cores, bench/battery_driver.cpp's speed mode).
#define VELTRANE_AVX512_TARGET "avx2,avx512f,avx512bw,avx512vl,avx512vnni,avx512vbmi"

bool have_avx512() {
    static const bool available = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                                  __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vnni") &&
                                  __builtin_cpu_supports("avx512vbmi");
    return available;
}

namespace {

// Products through vpdpbusd, which multiplies unsigned bytes by signed ones:
// the right-hand byte b goes in as b - 128 (its top bit flipped), and the
// 128 * a this leaves out comes back from the byte sums of the left-hand bytes.
struct DotLanes {
    __m256i dots, left_sums, seams;  // dots and seams since the last widening
    __m256i wide_dots, wide_seams;   // 64-bit sums
};

[[gnu::target(VELTRANE_AVX512_TARGET)]] inline void clear(DotLanes& l) {
    l.dots = l.left_sums = l.seams = l.wide_dots = l.wide_seams = _mm256_setzero_si256();
}

// The pairs (i, i + 1) for i in [0, 32) from p; reads p[0, 33).
[[gnu::target(VELTRANE_AVX512_TARGET)]] inline void pair_step(const std::uint8_t* p, DotLanes& l) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
    l.dots = _mm256_dpbusd_epi32(l.dots, a, _mm256_xor_si256(b, _mm256_set1_epi8(static_cast<char>(0x80))));
    l.left_sums = _mm256_add_epi64(l.left_sums, _mm256_sad_epu8(a, _mm256_setzero_si256()));
    // a & (b >> 7) & 1 as one ternary logic operation (0x80: all three set).
    l.seams = _mm256_add_epi8(l.seams, _mm256_ternarylogic_epi32(a, _mm256_srli_epi16(b, 7), _mm256_set1_epi8(1), 0x80));
}

// At most PAIR_STEPS steps after the last widening: a dot lane moves by at
// most 4 * 255 * 128 a step, far inside 2^31, and a seam byte by 1.
[[gnu::target(VELTRANE_AVX512_TARGET)]] inline void widen(DotLanes& l) {
    const __m256i zero = _mm256_setzero_si256();
    l.wide_dots = _mm256_add_epi64(l.wide_dots, _mm256_cvtepi32_epi64(_mm256_castsi256_si128(l.dots)));
    l.wide_dots = _mm256_add_epi64(l.wide_dots, _mm256_cvtepi32_epi64(_mm256_extracti128_si256(l.dots, 1)));
    l.wide_seams = _mm256_add_epi64(l.wide_seams, _mm256_sad_epu8(l.seams, zero));
    l.dots = l.seams = zero;
}

[[gnu::target(VELTRANE_AVX512_TARGET)]] inline PairSums sums_of(DotLanes& l) {
    widen(l);
    // Two's complement: the dots' wrapped 64-bit sum plus 128 times the left
    // bytes is the exact, non-negative sum of products.
    return {lane_sum(l.wide_dots) + 128 * lane_sum(l.left_sums), lane_sum(l.wide_seams)};
}

// Four groups from one load: vpermb puts each 24-bit coordinate big-endian
// into the low three bytes of a 32-bit lane and zeroes the fourth. Reads p[0, 32).
[[gnu::target(VELTRANE_AVX512_TARGET)]] inline void monte_carlo_step_vbmi(const std::uint8_t* p, __m256i& misses) {
    const __m256i order = _mm256_setr_epi8(2, 1, 0, 0, 5, 4, 3, 0, 8, 7, 6, 0, 11, 10, 9, 0,  //
                                           14, 13, 12, 0, 17, 16, 15, 0, 20, 19, 18, 0, 23, 22, 21, 0);
    const __m256i radius_squared = _mm256_set1_epi64x(static_cast<long long>(RADIUS_SQUARED));
    const __m256i v = _mm256_maskz_permutexvar_epi8(0x77777777u, order, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    const __m256i xx = _mm256_mul_epu32(v, v);
    const __m256i y = _mm256_srli_epi64(v, 32);
    const __m256i sum = _mm256_add_epi64(xx, _mm256_mul_epu32(y, y));
    misses = _mm256_sub_epi64(misses, _mm256_cmpgt_epi64(sum, radius_squared));
}

}  // namespace

// The last Monte Carlo load of a stride, at 168, reads to 200.
VELTRANE_ONE_PASS(block_sums_avx512, VELTRANE_AVX512_TARGET, DotLanes, monte_carlo_step_vbmi, 8)

BlockSums block_sums(const std::uint8_t* data, std::size_t n, std::size_t lead, std::size_t groups,
                     util::ByteHistogram& hist) {
    if (have_avx512()) return block_sums_avx512(data, n, lead, groups, hist);
    return have_avx2() ? block_sums_avx2(data, n, lead, groups, hist) : block_sums_portable(data, n, lead, groups, hist);
}

#else

bool have_avx2() { return false; }
bool have_avx512() { return false; }
BlockSums block_sums_avx512(const std::uint8_t* data, std::size_t n, std::size_t lead, std::size_t groups,
                            util::ByteHistogram& hist) {
    return block_sums_portable(data, n, lead, groups, hist);
}
BlockSums block_sums_avx2(const std::uint8_t* data, std::size_t n, std::size_t lead, std::size_t groups,
                          util::ByteHistogram& hist) {
    return block_sums_portable(data, n, lead, groups, hist);
}
BlockSums block_sums(const std::uint8_t* data, std::size_t n, std::size_t lead, std::size_t groups,
                     util::ByteHistogram& hist) {
    return block_sums_portable(data, n, lead, groups, hist);
}

#endif

}  // namespace veltrane::battery::kernel
