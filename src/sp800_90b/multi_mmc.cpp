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
// is the one comparison a[x] > a[x ^ 1]: for x = 1 it is n1 >= n0 with n1 > 0,
// for x = 0 it is n0 > n1.
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

template <class Count>
void count_bit(BitCells<Count>& c, unsigned x) {
    c.a[x] += 2 + (x & (c.a[x] == 0));
}

// Plays order d (`capped`: order 16, the only one that can exceed 100,000 pairs,
// having 2^17) over the steps predicting data[lo..hi), lo = 2 + 64 j: bit t of
// hits[w] is whether it was right at lo + 64 w + t. The cell it reads to predict
// x is the one x is then counted in (the next step would count it there before
// reading), so a step touches one cell, once, and no branch depends on the data.
template <bool capped, bool prefetch, class Count>
void play_order(Symbols s, unsigned d, std::vector<BitCells<Count>>& cells, std::size_t& pairs, std::size_t lo,
                std::size_t hi, std::uint64_t* hits) {
    constexpr std::size_t LOOKAHEAD = 12;  // steps ahead to ask for a cell that is out of the L1 cache
    const std::uint32_t mask = (std::uint32_t{1} << d) - 1;
    // before step i: the bits up to i - 1, newest in the low bit; ahead: up to i + LOOKAHEAD - 1
    std::uint32_t history = 0, ahead = 0;
    for (std::size_t p = lo > ORDERS ? lo - ORDERS : 0; p < lo; ++p) history = (history << 1) | s.data[p];
    for (std::size_t p = lo > ORDERS ? lo - ORDERS : 0; p < lo + LOOKAHEAD && p < s.n; ++p) ahead = (ahead << 1) | s.data[p];
    auto ask = [&](std::size_t i) {
        if (i + LOOKAHEAD < s.n) {
            ahead = (ahead << 1) | s.data[i + LOOKAHEAD];
            __builtin_prefetch(&cells[ahead & mask]);
        }
    };
    for (std::size_t base = lo, w = 0; base < hi; base += 64, ++w) {
        const auto len = static_cast<unsigned>(std::min<std::size_t>(64, hi - base));
        std::uint64_t word = 0;  // the first step in the top bit
        unsigned t = 0;
        // Steps before d bits are in: nothing known, nothing counted.
        for (; t < len && base + t < d; ++t) {
            if constexpr (prefetch) ask(base + t);
            history = (history << 1) | s.data[base + t];
            word <<= 1;
        }
        for (; t < len; ++t) {
            const std::size_t i = base + t;
            if constexpr (prefetch) ask(i);
            const unsigned x = s.data[i];
            BitCells<Count>& c = cells[history & mask];
            word = (word << 1) | std::uint64_t{c.a[x] > c.a[x ^ 1]};
            if constexpr (capped) {
                const bool fresh = c.a[x] == 0, admit = !fresh || pairs < MAX_PAIRS;
                pairs += fresh & admit;
                c.a[x] += admit * (2 + (x & fresh));
            } else {
                count_bit(c, x);
            }
            history = (history << 1) | x;
        }
        hits[w] = reversed(word) >> (64 - len);
    }
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
    count_bit(cells[0][s.data[0]], s.data[1]);
    std::vector<std::uint64_t> hits(ORDERS * (CHUNK / 64));
    Scoreboard board(ORDERS);
    for (std::size_t lo = 2; lo < s.n; lo += CHUNK) {
        const std::size_t hi = std::min(s.n, lo + CHUNK);
        for (unsigned d = 1; d < ORDERS; ++d) {
            std::uint64_t* h = &hits[(d - 1) * (CHUNK / 64)];
            if (d < 11) {
                play_order<false, false>(s, d, cells[d - 1], pairs, lo, hi, h);
            } else {
                play_order<false, true>(s, d, cells[d - 1], pairs, lo, hi, h);
            }
        }
        play_order<true, true>(s, ORDERS, cells[ORDERS - 1], pairs, lo, hi, &hits[(ORDERS - 1) * (CHUNK / 64)]);
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
        models.emplace_back(d, bits, std::min(s.n, MAX_PAIRS));
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
    // (step i appends i + LOOKAHEAD - 1).
    Code ahead = 0;
    for (std::size_t p = 0; p < LOOKAHEAD && p < s.n; ++p) ahead = static_cast<Code>((ahead << bits) | s.data[p]);
    // warm: i > ORDERS, every order updates and predicts (a constant count the
    // compiler unrolls).
    auto step = [&](std::size_t i, unsigned t, std::uint64_t* hits, auto warm) {
        const std::size_t updates = warm ? ORDERS : std::min<std::size_t>(ORDERS, i - 1);
        const std::size_t lookups = warm ? ORDERS : std::min<std::size_t>(ORDERS, i);
        if (i + LOOKAHEAD - 1 < s.n) {
            ahead = static_cast<Code>((ahead << bits) | s.data[i + LOOKAHEAD - 1]);
            const unsigned upto = filter.length() - 1;
            for (unsigned d = Model::FIRST_PREFETCHED; d <= upto; ++d) models[d - 1].prefetch(ahead & mask[d]);
            filter.prefetch(ahead);
        }
        // Count the last sample after the contexts before it.
        const std::uint8_t y = s.data[i - 1];
        for (unsigned d = 1; d <= updates; ++d) {
            Model& m = models[d - 1];
            const bool room = m.pairs() < MAX_PAIRS;
            if (seen[d] != Model::NONE) {
                m.increment(seen[d], y, room);
            } else if (room) {
                m.add(history & mask[d], y);
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

Prediction multi_mmc(Symbols s, Counters c) {
    const std::size_t n = s.n > 2 ? s.n - 2 : 0;
    CorrectTally tally;
    if (n > 0) {
        if (s.k <= 2) {
            with_counters(s.n, c, [&]<class Count>() { play_bits<Count>(s, tally); });
        } else {
            with_counters(s.n, c, [&]<class Count>() { play<ContextDictionary<Count>>(s, tally); });
        }
    }
    return prediction_result(tally, n, s.k);
}

}  // namespace veltrane::sp800_90b
