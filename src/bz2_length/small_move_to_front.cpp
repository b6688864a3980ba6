// Move-to-front over at most 16 letters without a branch per letter.
//
// A letter's position in the list is the number of distinct letters used since
// its own last use, so each of 16 lanes keeps the step at which its letter was
// last used, and a position is one comparison of all lanes and a bit count.
// Steps count in 16 bits and are renumbered by rank before they overflow
// (only their order matters); unused lanes sit below every used one.
//
// Runs of position 0 are written without a branch too: every step writes the
// run's digits so far and its own symbol after them, and moves the output on
// only when its position is not 0.
#include "bz2_length/move_to_front.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "pool/cancel.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VELTRANE_BZ2_AVX2 1
#include <immintrin.h>
#endif

namespace veltrane::bz2_length {

namespace detail {
std::uint8_t* put_small_run(std::size_t zeros, std::uint8_t* out);
}

namespace {

constexpr int LANES = 16;
constexpr std::int16_t NEVER = -32768;
constexpr std::size_t RENUMBER_EVERY = 32000;

// The digits of a run of v - 1 zeros, v < 256: bit i of v as byte i.
constexpr auto RUN_DIGITS = [] {
    std::array<std::uint64_t, 256> digits{};
    for (int v = 0; v < 256; ++v)
        for (int i = 0; i < 8; ++i) digits[v] |= std::uint64_t((v >> i) & 1) << (8 * i);
    return digits;
}();

// Maps the steps to their ranks, just below 0, keeping their order.
void renumber(std::int16_t* last) {
    std::int16_t ranked[LANES];
    for (int a = 0; a < LANES; ++a) {
        int below = 0;
        for (int b = 0; b < LANES; ++b) below += last[b] < last[a];
        ranked[a] = static_cast<std::int16_t>(below - LANES);
    }
    std::memcpy(last, ranked, sizeof ranked);
}

}  // namespace

#ifdef VELTRANE_BZ2_AVX2

namespace {

// Works run by run: a letter that differs from the one before it is never at
// the front of the list, so every run of equal letters is one position (>= 1)
// and then its length - 1 zeros. Runs are found 32 letters at a time.
[[gnu::target("avx2,popcnt,bmi")]] std::size_t vector_kernel(const std::uint8_t* letters, std::size_t n,
                                                                int alphabet, std::uint8_t* symbols) {
    alignas(32) std::int16_t last[LANES];
    for (int i = 0; i < LANES; ++i) last[i] = i < alphabet ? static_cast<std::int16_t>(-1 - i) : NEVER;
    alignas(32) std::int16_t lane_of[LANES][LANES] = {};
    for (int c = 0; c < LANES; ++c) lane_of[c][c] = -1;
    std::uint8_t* out = symbols;
    if (n == 0) {
        *out = static_cast<std::uint8_t>(alphabet + 1);
        return 1;
    }
    // The first letter may be at the front already: its zero then joins its run.
    std::size_t zeros_before_run = letters[0] == 0 ? 1 : 0;
    if (letters[0] != 0) *out++ = static_cast<std::uint8_t>(letters[0] + 1);
    for (int i = 0; i < LANES; ++i) last[i] = i == letters[0] ? 0 : last[i];
    std::size_t run_start = 0;
    std::size_t i = 1;
    while (i < n) {
        renumber(last);
        __m256i lanes = _mm256_load_si256(reinterpret_cast<const __m256i*>(last));
        __m256i now = _mm256_set1_epi16(1);
        const __m256i one = _mm256_set1_epi16(1);
        std::int16_t step = 1;
        // At most 32 runs per chunk: renumbered before the steps overflow.
        const std::size_t stop = std::min(n, i + 32 * (RENUMBER_EVERY / 32 - 1));
        for (; i < stop; i += 32) {
            std::uint32_t changes;
            if (i + 32 <= n) {
                const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(letters + i));
                const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(letters + i - 1));
                changes = ~static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(here, before)));
            } else {
                changes = 0;
                for (std::size_t k = i; k < n; ++k) changes |= std::uint32_t(letters[k] != letters[k - 1]) << (k - i);
            }
            while (changes != 0) {
                const std::size_t at_letter = i + static_cast<std::size_t>(_tzcnt_u32(changes));
                changes = _blsr_u32(changes);
                const unsigned c = letters[at_letter];
                const __m256i mine = _mm256_set1_epi16(last[c]);
                const unsigned newer = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpgt_epi16(lanes, mine)));
                const unsigned position = static_cast<unsigned>(_mm_popcnt_u32(newer)) >> 1;
                last[c] = step++;
                lanes = _mm256_blendv_epi8(lanes, now, _mm256_load_si256(reinterpret_cast<const __m256i*>(lane_of[c])));
                now = _mm256_add_epi16(now, one);
                // The run before this one: its zeros, then this run's position.
                const std::size_t zeros = at_letter - run_start - 1 + zeros_before_run;
                zeros_before_run = 0;
                run_start = at_letter;
                if (zeros >= 255) [[unlikely]] {
                    out = detail::put_small_run(zeros, out);
                    *out++ = static_cast<std::uint8_t>(position + 1);
                    continue;
                }
                const std::uint32_t v = static_cast<std::uint32_t>(zeros) + 1;
                std::memcpy(out, &RUN_DIGITS[v], 8);
                const unsigned digits = static_cast<unsigned>(std::bit_width(v)) - 1;
                out[digits] = static_cast<std::uint8_t>(position + 1);
                out += digits + 1;
            }
        }
        // Keep the steps in `last` (renumbered next) in order.
        pool::checkpoint();
    }
    const std::size_t zeros = n - run_start - 1 + zeros_before_run;
    if (zeros) out = detail::put_small_run(zeros, out);
    *out++ = static_cast<std::uint8_t>(alphabet + 1);
    return out - symbols;
}

}  // namespace

namespace detail {
bool have_vector_move_to_front() {
    static const bool available = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt") &&
                                  __builtin_cpu_supports("bmi");
    return available;
}
}  // namespace detail

std::size_t move_to_front_small(const std::uint8_t* letters, std::size_t n, int alphabet, std::uint8_t* symbols) {
    if (detail::have_vector_move_to_front()) return vector_kernel(letters, n, alphabet, symbols);
    return detail::move_to_front_small_portable(letters, n, alphabet, symbols);
}

#else

namespace detail {
bool have_vector_move_to_front() { return false; }
}  // namespace detail

std::size_t move_to_front_small(const std::uint8_t* letters, std::size_t n, int alphabet, std::uint8_t* symbols) {
    return detail::move_to_front_small_portable(letters, n, alphabet, symbols);
}

#endif

}  // namespace veltrane::bz2_length
