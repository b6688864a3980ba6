// 6.3.9, the MultiMMC prediction estimate: subpredictor d (1..16) is a Markov
// model of order d (the symbol seen most often after the last d symbols), on a
// scoreboard. Each order admits at most 100,000 (context, next symbol) pairs;
// once full it only counts pairs it holds. Predicted: every sample after the
// first two (N = n - 2).
#include <array>
#include <optional>
#include <type_traits>
#include <vector>

#include "binary_contexts.hpp"
#include "context_dictionary.hpp"
#include "estimators.hpp"
#include "pool/cancel.hpp"
#include "prediction_result.hpp"
#include "scoreboard.hpp"

namespace veltrane::sp800_90b {

namespace {

constexpr unsigned ORDERS = 16;
constexpr std::size_t MAX_PAIRS = 100000;

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
    std::optional<RepeatFilter> filter;
    if constexpr (!std::is_same_v<Model, BinaryContexts>) filter.emplace(bits);
    // The contexts LOOKAHEAD steps on: before step i, up to i + LOOKAHEAD - 2.
    Code ahead = 0;
    for (std::size_t p = 0; p + 1 < LOOKAHEAD && p < s.n; ++p) ahead = static_cast<Code>((ahead << bits) | s.data[p]);
    // warm: i > ORDERS, every order updates and predicts (a constant count the
    // compiler unrolls).
    auto step = [&](std::size_t i, unsigned t, std::uint64_t* hits, auto warm) {
        const std::size_t updates = warm ? ORDERS : std::min<std::size_t>(ORDERS, i - 1);
        const std::size_t lookups = warm ? ORDERS : std::min<std::size_t>(ORDERS, i);
        if (i + LOOKAHEAD - 1 < s.n) {
            ahead = static_cast<Code>((ahead << bits) | s.data[i + LOOKAHEAD - 1]);
            const unsigned upto = filter ? filter->length() - 1 : ORDERS;
            for (unsigned d = Model::FIRST_PREFETCHED; d <= upto; ++d) models[d - 1].prefetch(ahead & mask[d]);
            if (filter) filter->prefetch(ahead);
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
        if (filter && i >= filter->length() && !filter->repeated(history)) longest = filter->length() - 1;
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

Prediction multi_mmc(Symbols s) {
    const std::size_t n = s.n > 2 ? s.n - 2 : 0;
    CorrectTally tally;
    if (n > 0) {
        if (s.k <= 2) {
            play<BinaryContexts>(s, tally);
        } else {
            play<ContextDictionary>(s, tally);
        }
    }
    return prediction_result(tally, n, s.k);
}

}  // namespace veltrane::sp800_90b
