// 6.3.9, the MultiMMC prediction estimate: subpredictor d (1..16) is a Markov
// model of order d (the symbol seen most often after the last d symbols), on a
// scoreboard. Each order admits at most 100,000 (context, next symbol) pairs;
// once full it only counts pairs it holds. Predicted: every sample after the
// first two (N = n - 2).
#include <array>
#include <type_traits>
#include <vector>

#include "context_dictionary.hpp"
#include "counters.hpp"
#include "estimators.hpp"
#include "pool/cancel.hpp"
#include "prediction_result.hpp"
#include "scoreboard.hpp"

namespace veltrane::sp800_90b {

namespace {

constexpr unsigned ORDERS = 16;
constexpr std::size_t MAX_PAIRS = 100000;

// Order d's counts on bits, one cell for each context of d bits, indexed by the
// context itself. A cell keeps a[0] = 2 n0 and a[1] = 2 n1 + 1 (0 while n1 = 0),
// so that "x is the most frequent successor (1 on a tie) of a known context"
// is the one comparison a[x] > a[x ^ 1] (for x = 1 it is n1 >= n0 with n1 > 0,
// for x = 0 it is n0 > n1), and counting x is a[x] = (a[x] + 2) | x.
template <class Count>
struct BitCells {
    Count a[2] = {0, 0};
};

inline std::uint64_t reversed(std::uint64_t v) {
    v = ((v >> 1) & 0x5555555555555555ULL) | ((v & 0x5555555555555555ULL) << 1);
    v = ((v >> 2) & 0x3333333333333333ULL) | ((v & 0x3333333333333333ULL) << 2);
    v = ((v >> 4) & 0x0F0F0F0F0F0F0F0FULL) | ((v & 0x0F0F0F0F0F0F0F0FULL) << 4);
    return __builtin_bswap64(v);
}

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
        for (unsigned g = 0; g < GROUP; ++g) hits[g][w] = reversed(word[g]) >> (64 - len);
    }
    pairs_of_16 = pairs;
}

// The predictions of data[2..n) on bits into `tally`, order by order over
// stretches of CHUNK steps: the orders are independent until the scoreboard, and
// one order's loop keeps its state in registers and its table to itself.
template <class Count>
void play_bits(Symbols s, CorrectTally& tally) {
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

// The predictions of data[2..n) into `tally`, with Model the counts of one order.
template <class Model>
void play(Symbols s, CorrectTally& tally) {
    using Code = typename Model::Code;
    const unsigned bits = symbol_bits(s.k);
    std::vector<Model> models;
    std::array<Code, ORDERS + 1> mask{};
    for (unsigned d = 1; d <= ORDERS; ++d) {
        models.emplace_back(d, bits, std::min(s.n, MAX_PAIRS), s.data);
        mask[d] = d * bits == 8 * sizeof(Code) ? ~Code{0} : (Code{1} << (d * bits)) - 1;
    }
    // The entry each order looked up to predict the last sample: the context
    // that sample now extends.
    std::array<std::uint32_t, ORDERS + 1> seen;
    seen.fill(Model::NONE);
    Code history = 0;  // the last symbols, newest in the low bits
    Scoreboard board(ORDERS);
    RepeatFilter filter(bits);
    // The contexts LOOKAHEAD steps on: before step i, the data up to i + LOOKAHEAD - 2
    // (step i appends i + LOOKAHEAD - 1); `far`, the same 2 LOOKAHEAD steps on,
    // for the filter's memory, so that its guess can choose the tables' prefetches.
    Code ahead = 0, far = 0;
    for (std::size_t p = 0; p < LOOKAHEAD && p < s.n; ++p) ahead = static_cast<Code>((ahead << bits) | s.data[p]);
    for (std::size_t p = 0; p < 2 * LOOKAHEAD && p < s.n; ++p) far = static_cast<Code>((far << bits) | s.data[p]);
    // warm: i > ORDERS, every order updates and predicts (a constant count the
    // compiler unrolls).
    auto step = [&](std::size_t i, unsigned t, std::uint64_t* hits, auto warm) {
        const std::size_t updates = warm ? ORDERS : std::min<std::size_t>(ORDERS, i - 1);
        const std::size_t lookups = warm ? ORDERS : std::min<std::size_t>(ORDERS, i);
        if (i + 2 * LOOKAHEAD - 1 < s.n) {
            far = static_cast<Code>((far << bits) | s.data[i + 2 * LOOKAHEAD - 1]);
            filter.prefetch(far);
        }
        if (i + LOOKAHEAD - 1 < s.n) {
            ahead = static_cast<Code>((ahead << bits) | s.data[i + LOOKAHEAD - 1]);
            const unsigned upto = filter.length() - 1;
            // past the filter's length only where the filter lets the lookup
            // through or an order may still add the context (on wide symbols
            // nearly all of those are new)
            const bool again = filter.seen(ahead);
            for (unsigned d = Model::FIRST_PREFETCHED; d <= ORDERS; ++d) {
                if (d <= upto || again || models[d - 1].pairs() < MAX_PAIRS) models[d - 1].prefetch(ahead & mask[d]);
            }
        }
        // Count the last sample after the contexts before it.
        const std::uint8_t y = s.data[i - 1];
        for (unsigned d = 1; d <= updates; ++d) {
            Model& m = models[d - 1];
            const bool room = m.pairs() < MAX_PAIRS;
            if (seen[d] != Model::NONE) {
                m.increment(seen[d], y, room);
            } else if (room) {
                m.add(history & mask[d], i - 2, y);
            }
        }
        history = static_cast<Code>((history << bits) | y);
        // Predict data[i] from the contexts ending at i - 1.
        unsigned longest = ORDERS;
        if (i >= filter.length() && !filter.repeated(history)) longest = filter.length() - 1;
        for (unsigned d = 1; d <= lookups; ++d) {
            const ContextHit hit = d <= longest ? models[d - 1].lookup(history & mask[d]) : ContextHit{};
            seen[d] = hit.entry;
            hits[d - 1] |= std::uint64_t{hit.count != 0 && hit.best == s.data[i]} << t;
        }
    };
    std::uint64_t ignored[ORDERS] = {};
    step(1, 0, ignored, std::false_type{});  // the first context is looked up, nothing is predicted
    for (std::size_t start = 2; start < s.n; start += 64) {
        const auto len = static_cast<unsigned>(std::min<std::size_t>(64, s.n - start));
        std::uint64_t hits[ORDERS] = {};
        for (unsigned t = 0; t < len; ++t) {
            if (start + t > ORDERS) {
                step(start + t, t, hits, std::true_type{});
            } else {
                step(start + t, t, hits, std::false_type{});
            }
        }
        tally.add(board.play(hits, len), len);
        pool::checkpoint();
    }
}

}  // namespace

Prediction multi_mmc(Symbols s) { return multi_mmc(s, Counters::fitted); }

Prediction multi_mmc(Symbols s, Counters c, BitTables b) {
    return predict_counted(s, c, 2, [&]<class Count>(CorrectTally& tally) {
        if (s.k <= 2 && b == BitTables::flat) {
            play_bits<Count>(s, tally);
        } else {
            play<ContextDictionary<Count>>(s, tally);
        }
    });
}

}  // namespace veltrane::sp800_90b
