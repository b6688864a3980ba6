// Move-to-front over at most 16 letters without a branch per letter.
//
// A letter's position in the list is the number of distinct letters used since
// its own last use, so each of 16 lanes keeps the step at which its letter was
// last used, and a position is one comparison of all lanes and a bit count.
// Steps count in 16 bits and are renumbered by rank before they overflow
// (only their order matters); unused lanes sit below every used one.
//
// It works run by run: a letter that differs from the one before it is never at
// the front of the list, so every run of equal letters is one position (>= 1)
// and then its length - 1 zeros. Runs are found 32 letters at a time. Only the
// symbols' counts per group are kept, in a vector register: a run's digits
// and its position are added at once, unless they reach the group's end.
#include "bz2_length/move_to_front.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "bz2_length/format.hpp"
#include "pool/cancel.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VELTRANE_BZ2_AVX2 1
#include <immintrin.h>
#endif

namespace veltrane::bz2_length {

namespace {

constexpr int LANES = 16;
constexpr std::int16_t NEVER = 0;
constexpr std::size_t RENUMBER_EVERY = 32000;

// The symbol counts of a run of v - 1 zeros, v < 256: how many of each digit,
// and of one symbol alone.
struct alignas(16) Lanes {
    std::uint8_t count[COUNT_LANES];
};
constexpr auto RUN_COUNTS = [] {
    std::array<Lanes, 256> runs{};
    for (int v = 1; v < 256; ++v)
        for (int w = v; w > 1; w >>= 1) ++runs[v].count[(w & 1) ? RUN_B : RUN_A];
    return runs;
}();
// Both at once for the common short runs: a run of `zeros` (< SHORT_RUN)
// zeros, then symbol position + 1.
constexpr int SHORT_RUN = 16;
constexpr auto SHORT_RUN_AND_ONE = [] {
    std::array<std::array<Lanes, COUNT_LANES>, SHORT_RUN> both{};
    for (int zeros = 0; zeros < SHORT_RUN; ++zeros)
        for (int position = 0; position + 1 < COUNT_LANES; ++position) {
            for (int w = zeros + 1; w > 1; w >>= 1) ++both[zeros][position].count[(w & 1) ? RUN_B : RUN_A];
            ++both[zeros][position].count[position + 1];
        }
    return both;
}();
constexpr auto ONE_OF = [] {
    std::array<Lanes, COUNT_LANES> one{};
    for (int s = 0; s < COUNT_LANES; ++s) one[s].count[s] = 1;
    return one;
}();

// Maps the steps to their ranks, 0 to 15, keeping their order (unused lanes,
// all 0, stay below the used ones).
void renumber(std::int16_t* last) {
    std::int16_t ranked[LANES];
    for (int a = 0; a < LANES; ++a) {
        int below = 0;
        for (int b = 0; b < LANES; ++b) below += last[b] < last[a];
        ranked[a] = static_cast<std::int16_t>(below);
    }
    std::memcpy(last, ranked, sizeof ranked);
}

}  // namespace

#ifdef VELTRANE_BZ2_AVX2

namespace {

[[gnu::target("avx2,popcnt,bmi")]] std::size_t vector_kernel(const std::uint8_t* letters, std::size_t n,
                                                                int alphabet, std::vector<std::uint8_t>& counts) {
    counts.assign(detail::groups_for(n) * COUNT_LANES, 0);
    detail::GroupTally tally(counts.data());
    if (n == 0) {
        tally.add(alphabet + 1);
        return tally.symbols();
    }
    alignas(32) std::int16_t last[LANES];
    for (int i = 0; i < LANES; ++i) last[i] = i < alphabet ? static_cast<std::int16_t>(alphabet - i) : NEVER;
    alignas(32) std::int16_t lane_of[LANES][LANES] = {};
    for (int c = 0; c < LANES; ++c) lane_of[c][c] = -1;
    // The current group's counts not yet in `counts`, and how full it is, in registers.
    __m128i group = _mm_setzero_si128();
    int filled = 0;
    auto spill = [&] {
        tally.set_filled(filled);
        __m128i* at = reinterpret_cast<__m128i*>(tally.current_group());
        _mm_storeu_si128(at, _mm_add_epi8(_mm_loadu_si128(at), group));
        group = _mm_setzero_si128();
    };
    auto load = [](const Lanes& l) { return _mm_load_si128(reinterpret_cast<const __m128i*>(l.count)); };
    // The first letter may be at the front already: its zero then joins its run.
    std::size_t zeros_before_run = letters[0] == 0 ? 1 : 0;
    if (letters[0] != 0) tally.add(letters[0] + 1);
    filled = tally.filled();
    last[letters[0]] = static_cast<std::int16_t>(alphabet + 1);
    std::size_t run_start = 0;
    std::size_t i = 1;
    while (i < n) {
        renumber(last);
        __m256i lanes = _mm256_load_si256(reinterpret_cast<const __m256i*>(last));
        // Steps go on above every rank.
        __m256i now = _mm256_set1_epi16(LANES);
        const __m256i one = _mm256_set1_epi16(1);
        std::int16_t step = LANES;
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
                // The newest step is the largest: a maximum sets the letter's lane alone.
                lanes = _mm256_max_epu16(lanes, _mm256_and_si256(now, _mm256_load_si256(reinterpret_cast<const __m256i*>(lane_of[c]))));
                now = _mm256_add_epi16(now, one);
                // The run before this one: its zeros, then this run's position.
                const std::size_t zeros = at_letter - run_start - 1 + zeros_before_run;
                zeros_before_run = 0;
                run_start = at_letter;
                const int emitted = zeros < 255 ? std::bit_width(zeros + 1) : 64;
                if (zeros < SHORT_RUN && filled + emitted < static_cast<int>(GROUP_SIZE)) [[likely]] {
                    group = _mm_add_epi8(group, load(SHORT_RUN_AND_ONE[zeros][position]));
                    filled += emitted;
                    continue;
                }
                if (filled + emitted < static_cast<int>(GROUP_SIZE)) {
                    __m128i both = _mm_add_epi8(load(RUN_COUNTS[zeros + 1]), load(ONE_OF[position + 1]));
                    // One addition on the running counts per run, not two.
                    asm("" : "+x"(both));
                    group = _mm_add_epi8(group, both);
                    filled += emitted;
                    continue;
                }
                spill();
                if (zeros) tally.add_run(zeros);
                tally.add(static_cast<int>(position) + 1);
                filled = tally.filled();
            }
        }
        pool::checkpoint();
    }
    spill();
    const std::size_t zeros = n - run_start - 1 + zeros_before_run;
    if (zeros) tally.add_run(zeros);
    tally.add(alphabet + 1);
    return tally.symbols();
}

}  // namespace

namespace detail {
bool have_vector_move_to_front() {
    static const bool available = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt") &&
                                  __builtin_cpu_supports("bmi");
    return available;
}
}  // namespace detail

std::size_t move_to_front_counts(const std::uint8_t* letters, std::size_t n, int alphabet,
                                 std::vector<std::uint8_t>& counts) {
    if (detail::have_vector_move_to_front()) return vector_kernel(letters, n, alphabet, counts);
    return detail::move_to_front_counts_portable(letters, n, alphabet, counts);
}

#else

namespace detail {
bool have_vector_move_to_front() { return false; }
}  // namespace detail

std::size_t move_to_front_counts(const std::uint8_t* letters, std::size_t n, int alphabet,
                                 std::vector<std::uint8_t>& counts) {
    return detail::move_to_front_counts_portable(letters, n, alphabet, counts);
}

#endif

}  // namespace veltrane::bz2_length
