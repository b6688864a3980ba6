#include "bz2_length/small_selection.hpp"

#include "pool/cancel.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VELTRANE_BZ2_AVX2 1
#include <immintrin.h>
#endif

namespace veltrane::bz2_length {

namespace {
constexpr int LANES = SMALL_CODING_ALPHABET;
}  // namespace

namespace detail {

void select_small_portable(const std::uint8_t* counts, std::size_t groups, int tables, const TableLengths& lengths,
                           std::uint8_t* selectors, SmallCounts& coded) {
    for (std::size_t g = 0; g < groups; ++g) {
        const std::uint8_t* c = counts + g * LANES;
        int best = 0;
        std::uint32_t best_cost = ~0u;
        for (int t = 0; t < tables; ++t) {
            std::uint32_t cost = 0;
            for (int s = 0; s < LANES; ++s) cost += c[s] * std::uint32_t{lengths[t][s]};
            if (cost < best_cost) best_cost = cost, best = t;
        }
        selectors[g] = static_cast<std::uint8_t>(best);
        for (int s = 0; s < LANES; ++s) coded[best][s] += c[s];
        if ((g & 4095) == 4095) pool::checkpoint();
    }
}

}  // namespace detail

#ifdef VELTRANE_BZ2_AVX2

namespace {

// Two tables per register, their lengths as signed bytes, multiplied with the
// group's counts twice over; three horizontal additions leave the six costs,
// each shifted up to carry its table's number, so that the least of them is
// the cheapest table and, on ties, the first.
[[gnu::target("avx2")]] void select_vector(const std::uint8_t* counts, std::size_t groups, int tables,
                                           const TableLengths& lengths, std::uint8_t* selectors, SmallCounts& coded) {
    // A table not in use costs more than any group can in one that is (50 * 17).
    constexpr std::int8_t UNUSED = 127;
    alignas(32) std::int8_t pair[3][2 * LANES];
    for (int t = 0; t < MAX_TABLES; ++t)
        for (int s = 0; s < LANES; ++s)
            pair[t / 2][(t % 2) * LANES + s] = t < tables ? static_cast<std::int8_t>(lengths[t][s]) : UNUSED;
    const __m256i l01 = _mm256_load_si256(reinterpret_cast<const __m256i*>(pair[0]));
    const __m256i l23 = _mm256_load_si256(reinterpret_cast<const __m256i*>(pair[1]));
    const __m256i l45 = _mm256_load_si256(reinterpret_cast<const __m256i*>(pair[2]));
    const __m256i ones = _mm256_set1_epi16(1);
    // hadd leaves the costs of tables 0, 2, 4, 4 in the low half and 1, 3, 5, 5 in the high.
    const __m256i table = _mm256_setr_epi32(0, 2, 4, 4, 1, 3, 5, 5);
    alignas(32) std::uint32_t sums[MAX_TABLES][LANES] = {};
    for (std::size_t g = 0; g < groups; ++g) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(counts + g * LANES));
        const __m256i both = _mm256_broadcastsi128_si256(c);
        const __m256i s01 = _mm256_madd_epi16(_mm256_maddubs_epi16(both, l01), ones);
        const __m256i s23 = _mm256_madd_epi16(_mm256_maddubs_epi16(both, l23), ones);
        const __m256i s45 = _mm256_madd_epi16(_mm256_maddubs_epi16(both, l45), ones);
        const __m256i costs = _mm256_hadd_epi32(_mm256_hadd_epi32(s01, s23), _mm256_hadd_epi32(s45, s45));
        __m256i least = _mm256_or_si256(_mm256_slli_epi32(costs, 3), table);
        least = _mm256_min_epi32(least, _mm256_permute2x128_si256(least, least, 1));
        least = _mm256_min_epi32(least, _mm256_shuffle_epi32(least, 0x4e));
        least = _mm256_min_epi32(least, _mm256_shuffle_epi32(least, 0xb1));
        const int best = _mm256_cvtsi256_si32(least) & 7;
        selectors[g] = static_cast<std::uint8_t>(best);
        __m256i* sum = reinterpret_cast<__m256i*>(sums[best]);
        _mm256_store_si256(sum, _mm256_add_epi32(_mm256_load_si256(sum), _mm256_cvtepu8_epi32(c)));
        _mm256_store_si256(sum + 1, _mm256_add_epi32(_mm256_load_si256(sum + 1),
                                                     _mm256_cvtepu8_epi32(_mm_unpackhi_epi64(c, c))));
        if ((g & 4095) == 4095) pool::checkpoint();
    }
    for (int t = 0; t < MAX_TABLES; ++t)
        for (int s = 0; s < LANES; ++s) coded[t][s] += sums[t][s];
}

}  // namespace

namespace detail {
bool have_vector_selection() {
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
}
}  // namespace detail

void select_small(const std::uint8_t* counts, std::size_t groups, int tables, const TableLengths& lengths,
                  std::uint8_t* selectors, SmallCounts& coded) {
    if (detail::have_vector_selection()) return select_vector(counts, groups, tables, lengths, selectors, coded);
    detail::select_small_portable(counts, groups, tables, lengths, selectors, coded);
}

#else

namespace detail {
bool have_vector_selection() { return false; }
}  // namespace detail

void select_small(const std::uint8_t* counts, std::size_t groups, int tables, const TableLengths& lengths,
                  std::uint8_t* selectors, SmallCounts& coded) {
    detail::select_small_portable(counts, groups, tables, lengths, selectors, coded);
}

#endif

}  // namespace veltrane::bz2_length
