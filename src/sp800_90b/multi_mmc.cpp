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
#include "multi_mmc_bits.hpp"
#include "pool/cancel.hpp"
#include "prediction_result.hpp"
#include "scoreboard.hpp"

namespace veltrane::sp800_90b {

namespace {

using multi_mmc_limits::MAX_PAIRS;
using multi_mmc_limits::ORDERS;

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
        if (s.k <= 2 && b != BitTables::dictionary) {
            play_mmc_bits<Count>(s, tally, b == BitTables::portable);
        } else {
            play<ContextDictionary<Count>>(s, tally);
        }
    });
}

}  // namespace veltrane::sp800_90b
