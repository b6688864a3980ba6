// MultiMMC on bits: order d's counts in a flat table of the 2^d contexts of d
// bits, indexed by the context itself, so that a step reads and counts one
// cell per order with no search and no branch on the data. Two ways to play
// the steps: the orders four at a time in scalar registers, or, where the
// processor has 512-bit vectors, all sixteen at once, their cells gathered and
// scattered by one instruction each.
#include "multi_mmc_bits.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "vector_support.hpp"
#if VELTRANE_SP800_VECTORS
#include <immintrin.h>
#endif

#include "packed_bits.hpp"
#include "pool/cancel.hpp"
#include "scoreboard.hpp"

namespace veltrane::sp800_90b {

namespace {

using multi_mmc_limits::MAX_PAIRS;
using multi_mmc_limits::ORDERS;

// Order d's counts on bits, one cell for each context of d bits, indexed by the
// context itself. A cell keeps a[0] = 2 n0 and a[1] = 2 n1 + 1 (0 while n1 = 0),
// so that "x is the most frequent successor (1 on a tie) of a known context"
// is the one comparison a[x] > a[x ^ 1] (for x = 1 it is n1 >= n0 with n1 > 0,
// for x = 0 it is n0 > n1), and counting x is a[x] = (a[x] + 2) | x.
template <class Count>
struct BitCells {
    Count a[2] = {0, 0};
};

constexpr unsigned GROUP = 4;  // orders played in one loop, sharing its per-step work

// Plays orders first..first+3 (`capped`: the last is order 16, the only one
// that can exceed 100,000 pairs, having 2^17) over the steps predicting
// data[lo..hi), lo = 2 + 64 j: bit t of hits[g][w] is whether order first + g
// was right at lo + 64 w + t. The cell an order reads to predict x is the one x
// is then counted in (the next step would count it there before reading), so a
// step touches one cell per order, once, and no branch depends on the data.
// Not inlined: alone, its loop gets all the registers (inlined, GCC spilled the
// step counter and paid a store-to-load delay every step).
template <bool capped, bool prefetch, class Count>
[[gnu::noinline]] void play_orders(Symbols s, unsigned first, std::vector<BitCells<Count>>* tables,
                                   std::size_t& pairs_of_16, std::size_t lo, std::size_t hi, std::uint64_t* const* hits) {
    constexpr std::size_t LOOKAHEAD = 12;  // steps ahead to ask for a cell that is out of the L1 cache
    // Everything the loop touches in locals, so that it stays in registers.
    const std::uint8_t* const data = s.data;
    const std::size_t n = s.n;
    BitCells<Count>* cells[GROUP];
    std::uint32_t mask[GROUP];
    for (unsigned g = 0; g < GROUP; ++g) {
        cells[g] = tables[g].data();
        mask[g] = (std::uint32_t{2} << (first + g - 1)) - 1;
    }
    std::size_t pairs = pairs_of_16;
    // before step i: the bits up to i - 1, newest in the low bit; ahead: up to i + LOOKAHEAD - 1
    std::uint32_t history = 0, ahead = 0;
    for (std::size_t p = lo > ORDERS ? lo - ORDERS : 0; p < lo; ++p) history = (history << 1) | data[p];
    for (std::size_t p = lo > ORDERS ? lo - ORDERS : 0; p < lo + LOOKAHEAD && p < n; ++p) ahead = (ahead << 1) | data[p];
    for (std::size_t base = lo, w = 0; base < hi; base += 64, ++w) {
        const auto len = static_cast<unsigned>(std::min<std::size_t>(64, hi - base));
        const bool all_in = base >= first + GROUP - 1;  // d bits are in for every order (false only in the first block)
        std::uint64_t word[GROUP] = {};  // the first step in the top bit
        for (unsigned t = 0; t < len; ++t) {
            const std::size_t i = base + t;
            if constexpr (prefetch) {
                if (i + LOOKAHEAD < n) {
                    ahead = (ahead << 1) | data[i + LOOKAHEAD];
                    for (unsigned g = 0; g < GROUP; ++g) __builtin_prefetch(&cells[g][ahead & mask[g]]);
                }
            }
            const unsigned x = data[i];
            for (unsigned g = 0; g < GROUP; ++g) {
                if (!all_in && i < first + g) {
                    word[g] <<= 1;
                    continue;
                }
                Count& mine = cells[g][history & mask[g]].a[x];
                const Count m = mine;
                word[g] = word[g] + word[g] + (m > cells[g][history & mask[g]].a[x ^ 1]);
                if (capped && g == GROUP - 1) {
                    const bool admit = m != 0 || pairs < MAX_PAIRS;
                    pairs += m == 0 && admit;
                    mine = admit ? (m + 2) | x : m;
                } else {
                    mine = (m + 2) | x;
                }
            }
            history = (history << 1) | x;
        }
        for (unsigned g = 0; g < GROUP; ++g) hits[g][w] = reversed_bits(word[g]) >> (64 - len);
    }
    pairs_of_16 = pairs;
}

// The predictions of data[2..n) on bits into `tally`, order by order over
// stretches of CHUNK steps: the orders are independent until the scoreboard, and
// one order's loop keeps its state in registers and its table to itself.
template <class Count>
void play_portable(Symbols s, CorrectTally& tally) {
    constexpr std::size_t CHUNK = 64 * 256;
    std::vector<std::vector<BitCells<Count>>> cells;
    for (unsigned d = 1; d <= ORDERS; ++d) cells.emplace_back(std::size_t{1} << d);
    std::size_t pairs = 0;  // of order 16
    // The first sample after the first context; nothing is predicted yet.
    cells[0][s.data[0]].a[s.data[1]] = 2 | s.data[1];
    std::vector<std::uint64_t> hits(ORDERS * (CHUNK / 64));
    std::uint64_t* hits_of[ORDERS];
    for (unsigned d = 0; d < ORDERS; ++d) hits_of[d] = &hits[d * (CHUNK / 64)];
    Scoreboard board(ORDERS);
    static_assert(ORDERS == 4 * GROUP);
    for (std::size_t lo = 2; lo < s.n; lo += CHUNK) {
        const std::size_t hi = std::min(s.n, lo + CHUNK);
        play_orders<false, false>(s, 1, &cells[0], pairs, lo, hi, &hits_of[0]);
        play_orders<false, false>(s, 5, &cells[4], pairs, lo, hi, &hits_of[4]);
        play_orders<false, true>(s, 9, &cells[8], pairs, lo, hi, &hits_of[8]);
        play_orders<true, true>(s, 13, &cells[12], pairs, lo, hi, &hits_of[12]);
        for (std::size_t base = lo, w = 0; base < hi; base += 64, ++w) {
            const auto len = static_cast<unsigned>(std::min<std::size_t>(64, hi - base));
            std::uint64_t block[ORDERS];
            for (unsigned d = 0; d < ORDERS; ++d) block[d] = hits[d * (CHUNK / 64) + w];
            tally.add(board.play(block, len), len);
        }
        pool::checkpoint();
    }
}


#if VELTRANE_SP800_VECTORS

// The vector way keeps each cell in one 32-bit word, w = 0 for an unseen
// context and else 2 (n1 - n0) + 1: x = 1 is the most frequent successor (1 on
// a tie) where w > 0, x = 0 where w < 0, so the prediction was right where
// (w - x) ^ (x - 1) is not negative, and counting x is w = (w | 1) + 4 x - 2.
// (It holds |n1 - n0| below 2^30: longer inputs play the scalar way.)
// Order d's cells start at 2^d - 2 of one array, 2^17 - 2 words in all.
constexpr std::size_t VECTOR_LIMIT = std::size_t{1} << 30;

// Order 16 admits a (context, successor) pair when it first occurs while it
// holds fewer than MAX_PAIRS; the pairs admitted, one bit each.
class AdmittedPairs {
public:
    AdmittedPairs() : bits_((std::size_t{2} << ORDERS) / 64, 0) {}
    // Whether order 16 counts x after `history` (admitting the pair if there is room).
    bool admit(std::uint32_t history, unsigned x) {
        const std::uint32_t pair = ((history & ((std::uint32_t{1} << ORDERS) - 1)) << 1) | x;
        std::uint64_t& word = bits_[pair / 64];
        const std::uint64_t bit = std::uint64_t{1} << (pair % 64);
        if ((word & bit) != 0) return true;
        if (count_ == MAX_PAIRS) return false;
        word |= bit;
        ++count_;
        return true;
    }

private:
    std::vector<std::uint64_t> bits_;
    std::size_t count_ = 0;
};

[[gnu::target(VELTRANE_SP800_VECTOR_TARGET)]] void play_vectors(Symbols s, CorrectTally& tally) {
    const std::uint8_t* const data = s.data;
    std::vector<std::int32_t> cells((std::size_t{2} << ORDERS) - 2, 0);
    AdmittedPairs pairs;
    const __m512i masks = _mm512_setr_epi32(1, 3, 7, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383, 32767, 65535);
    const __m512i bases = _mm512_setr_epi32(0, 2, 6, 14, 30, 62, 126, 254, 510, 1022, 2046, 4094, 8190, 16382, 32766, 65534);
    const __m512i one = _mm512_set1_epi32(1);
    // by x: x, x - 1, 4 x - 2
    const __m512i xs[2] = {_mm512_set1_epi32(0), _mm512_set1_epi32(1)};
    const __m512i below[2] = {_mm512_set1_epi32(-1), _mm512_set1_epi32(0)};
    const __m512i steps[2] = {_mm512_set1_epi32(-2), _mm512_set1_epi32(2)};
    // The first sample after the first context; nothing is predicted yet.
    cells[data[0]] = 4 * data[1] - 1;
    std::uint32_t history = (std::uint32_t{data[0]} << 1) | data[1];
    Scoreboard board(ORDERS);
    alignas(64) std::uint16_t outcomes[64];
    for (std::size_t start = 2; start < s.n; start += 64) {
        const auto len = static_cast<unsigned>(std::min<std::size_t>(64, s.n - start));
        for (unsigned t = 0; t < len; ++t) {
            const std::size_t i = start + t;
            const unsigned x = data[i];
            // orders 1..i know a context of i bits or fewer
            const auto known = static_cast<__mmask16>(i >= ORDERS ? 0xFFFF : (1u << i) - 1);
            const __m512i at = _mm512_add_epi32(_mm512_and_si512(_mm512_set1_epi32(static_cast<int>(history)), masks), bases);
            const __m512i w = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), known, at, cells.data(), 4);
            const __mmask16 wrong = _mm512_movepi32_mask(_mm512_xor_si512(_mm512_sub_epi32(w, xs[x]), below[x]));
            outcomes[t] = static_cast<std::uint16_t>(known & ~wrong);
            __mmask16 counted = known;
            if (i >= ORDERS && !pairs.admit(history, x)) counted &= 0x7FFF;
            _mm512_mask_i32scatter_epi32(cells.data(), counted, at, _mm512_add_epi32(_mm512_or_si512(w, one), steps[x]), 4);
            history = (history << 1) | x;
        }
        std::fill(outcomes + len, outcomes + 64, std::uint16_t{0});
        // one word of 64 outcomes per order
        const __m512i first = _mm512_load_si512(outcomes), second = _mm512_load_si512(outcomes + 32);
        std::uint64_t hits[ORDERS];
        for (unsigned d = 0; d < ORDERS; ++d) {
            const __m512i bit = _mm512_set1_epi16(static_cast<short>(1u << d));
            hits[d] = std::uint64_t{_mm512_test_epi16_mask(first, bit)} | (std::uint64_t{_mm512_test_epi16_mask(second, bit)} << 32);
        }
        tally.add(board.play(hits, len), len);
        pool::checkpoint();
    }
}
#endif

}  // namespace

template <class Count>
void play_mmc_bits(Symbols s, CorrectTally& tally, bool portable) {
#if VELTRANE_SP800_VECTORS
    if (!portable && sizeof(Count) == 4 && s.n < VECTOR_LIMIT && has_vectors()) {
        play_vectors(s, tally);
        return;
    }
#endif
    (void)portable;
    play_portable<Count>(s, tally);
}

template void play_mmc_bits<std::uint32_t>(Symbols, CorrectTally&, bool);
template void play_mmc_bits<std::uint64_t>(Symbols, CorrectTally&, bool);

}  // namespace veltrane::sp800_90b
