// 6.3.9, the MultiMMC prediction estimate: subpredictor d (1..16) is a Markov
// model of order d (the symbol seen most often after the last d symbols), on a
// scoreboard. Each order admits at most 100,000 (context, next symbol) pairs;
// once full it only counts pairs it holds. Predicted: every sample after the
// first two (N = n - 2).
#include <array>
#include <type_traits>
#include <vector>

#include "binary_contexts.hpp"
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

// The predictions of data[2..n) on bits into `tally`, all orders in one pass
// without branches. The cell an order reads to predict x is the one x is then
// counted in (the next step would count it there before reading anything of
// that order), so each step touches one cell per order, once. Only order 16 can
// hold more than 100,000 pairs (2^17), so only it checks the bound.
template <class Count>
void play_bits(Symbols s, CorrectTally& tally) {
    using Table = BinaryContexts<Count>;
    static_assert(Table::LONGEST == ORDERS);
    Table table;
    std::size_t pairs = 0;  // of order 16
    std::uint32_t history = s.data[0];  // before step i: the bits up to i - 1, newest in the low bit
    Scoreboard board(ORDERS);
    std::uint32_t ahead = 0;  // as in play
    for (std::size_t p = 0; p < Table::LOOKAHEAD && p < s.n; ++p) ahead = (ahead << 1) | s.data[p];
    auto step = [&](std::size_t i, unsigned t, std::uint64_t* hits, auto warm) {
        if (i + Table::LOOKAHEAD - 1 < s.n) {
            ahead = (ahead << 1) | s.data[i + Table::LOOKAHEAD - 1];
            table.prefetch(ahead);
        }
        const unsigned x = s.data[i];
#pragma GCC unroll 16
        for (unsigned d = 1; d <= ORDERS; ++d) {
            if (!warm && d > i) break;
            // Right if x is the most frequent successor (1 on a tie) of a known
            // context: x's count is nonzero and above the other's, or equal to
            // it where x is 1. Arithmetic, not branches: x is as unpredictable
            // as the data.
            typename Table::Cell& c = table[Table::index(history, d)];
            Count& mine = c.n[x];
            const Count other = c.n[x ^ 1];
            hits[d - 1] |= static_cast<std::uint64_t>((std::uint64_t{mine} + x > other) & (mine != 0)) << t;
            if (d < ORDERS) {
                ++mine;
            } else {
                const bool admit = mine != 0 || pairs < MAX_PAIRS;
                pairs += mine == 0 && admit;
                mine += admit;
            }
        }
        history = (history << 1) | x;
    };
    std::uint64_t ignored[ORDERS] = {};
    step(1, 0, ignored, std::false_type{});
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
