// 6.3.10, the LZ78Y prediction estimate: one dictionary of the contexts of
// length 1..16 seen so far (at most 65,536 of them, admitted longest first),
// each with the counts of the symbols after it. The prediction is the most
// frequent successor of the context with the highest such count, the longest
// context on equal counts. Predicted: every sample after the first 17
// (N = n - 17).
#include <array>
#include <vector>

#include "binary_contexts.hpp"
#include "context_dictionary.hpp"
#include "counters.hpp"
#include "estimators.hpp"
#include "pool/cancel.hpp"
#include "prediction_result.hpp"

namespace veltrane::sp800_90b {

namespace {

constexpr unsigned LONGEST = 16;
constexpr std::size_t MAX_CONTEXTS = 65536;

// The predictions of data[17..n) on bits into `tally`, every length in one pass
// without branches. The cell a length reads to predict x is the one x is then
// counted in (the next step would count it there first thing, longest first as
// here, so the dictionary admits the same contexts), so each step touches one
// cell per length, once.
template <class Count>
void play_bits(Symbols s, CorrectTally& tally) {
    using Table = BinaryContexts<Count>;
    static_assert(Table::LONGEST == LONGEST);
    Table table;
    std::size_t size = 0;
    // Counts x after the context of cell c, admitting it while there is room.
    auto count = [&](typename Table::Cell& c, unsigned x) {
        const bool known = (c.n[0] | c.n[1]) != 0;
        const bool admit = known || size < MAX_CONTEXTS;
        size += admit && !known;
        c.n[x] += admit;
    };
    std::uint32_t history = 0;  // before step i: the bits up to i - 1, newest in the low bit
    for (std::size_t i = 0; i < LONGEST; ++i) history = (history << 1) | s.data[i];
    // the contexts the first sample predicted, data[16], follows
    for (unsigned j = LONGEST; j >= 1; --j) count(table[Table::index(history, j)], s.data[LONGEST]);
    history = (history << 1) | s.data[LONGEST];
    std::uint32_t ahead = 0;  // as in play
    for (std::size_t p = 0; p < LONGEST + Table::LOOKAHEAD && p < s.n; ++p) ahead = (ahead << 1) | s.data[p];
    for (std::size_t start = LONGEST + 1; start < s.n; start += 64) {
        const auto len = static_cast<unsigned>(std::min<std::size_t>(64, s.n - start));
        std::uint64_t right = 0;
        for (unsigned t = 0; t < len; ++t) {
            const std::size_t i = start + t;
            if (i + Table::LOOKAHEAD - 1 < s.n) {
                ahead = (ahead << 1) | s.data[i + Table::LOOKAHEAD - 1];
                table.prefetch(ahead);
            }
            const unsigned x = s.data[i];
            Count top = 0;
            unsigned prediction = 0;
#pragma GCC unroll 16
            for (unsigned j = LONGEST; j >= 1; --j) {
                typename Table::Cell& c = table[Table::index(history, j)];
                const Count most = c.n[0] > c.n[1] ? c.n[0] : c.n[1];
                const bool better = most > top;
                top = better ? most : top;
                prediction = better ? unsigned{c.n[1] >= c.n[0]} : prediction;
                count(c, x);
            }
            right |= std::uint64_t{top > 0 && prediction == x} << t;
            history = (history << 1) | x;
        }
        tally.add(right, len);
        pool::checkpoint();
    }
}

// The predictions of data[17..n) into `tally`, with Model the counts of the
// contexts of one length.
template <class Model>
void play(Symbols s, CorrectTally& tally) {
    using Code = typename Model::Code;
    const unsigned bits = symbol_bits(s.k);
    // One table per context length; together they make the dictionary.
    std::vector<Model> lengths;
    std::array<Code, LONGEST + 1> mask{};
    for (unsigned j = 1; j <= LONGEST; ++j) {
        lengths.emplace_back(j, bits, 0);  // lengths share the bound: grown as needed
        mask[j] = j * bits == 8 * sizeof(Code) ? ~Code{0} : (Code{1} << (j * bits)) - 1;
    }
    std::size_t size = 0;
    // The entries looked up to predict the last sample, by length: the contexts
    // that sample now follows. Nothing is admitted before the first prediction,
    // so they start out absent.
    std::array<std::uint32_t, LONGEST + 1> seen;
    seen.fill(Model::NONE);
    Code history = 0;
    for (std::size_t i = 0; i < LONGEST; ++i) history = static_cast<Code>((history << bits) | s.data[i]);
    RepeatFilter filter(bits);
    {
        // the contexts ending before the first prediction
        for (std::size_t i = filter.length(); i < LONGEST + 1; ++i) {
            Code h = 0;
            for (std::size_t t = 0; t < i; ++t) h = static_cast<Code>((h << bits) | s.data[t]);
            filter.repeated(h);
        }
    }
    // The contexts LOOKAHEAD steps on: before step i, the data up to i + LOOKAHEAD - 2
    // (step i appends i + LOOKAHEAD - 1).
    Code ahead = 0;
    for (std::size_t p = 0; p < LONGEST + LOOKAHEAD && p < s.n; ++p) {
        ahead = static_cast<Code>((ahead << bits) | s.data[p]);
    }
    for (std::size_t start = LONGEST + 1; start < s.n; start += 64) {
        const auto len = static_cast<unsigned>(std::min<std::size_t>(64, s.n - start));
        std::uint64_t right = 0;
        for (unsigned t = 0; t < len; ++t) {
            const std::size_t i = start + t;
            if (i + LOOKAHEAD - 1 < s.n) {
                ahead = static_cast<Code>((ahead << bits) | s.data[i + LOOKAHEAD - 1]);
                const unsigned upto = filter.length() - 1;
                for (unsigned j = Model::FIRST_PREFETCHED; j <= upto; ++j) lengths[j - 1].prefetch(ahead & mask[j]);
                filter.prefetch(ahead);
            }
            const std::uint8_t y = s.data[i - 1];
            for (unsigned j = LONGEST; j >= 1; --j) {
                if (seen[j] != Model::NONE) {
                    lengths[j - 1].increment(seen[j], y, true);
                } else if (size < MAX_CONTEXTS) {
                    lengths[j - 1].add(history & mask[j], y);
                    ++size;
                }
            }
            history = static_cast<Code>((history << bits) | y);
            std::uint64_t top = 0;
            std::uint8_t prediction = 0;
            unsigned longest = LONGEST;
            if (!filter.repeated(history)) longest = filter.length() - 1;
            for (unsigned j = LONGEST; j >= 1; --j) {
                const ContextHit hit = j <= longest ? lengths[j - 1].lookup(history & mask[j]) : ContextHit{};
                seen[j] = hit.entry;
                if (hit.count > top) top = hit.count, prediction = hit.best;
            }
            right |= std::uint64_t{top > 0 && prediction == s.data[i]} << t;
        }
        tally.add(right, len);
        pool::checkpoint();
    }
}

}  // namespace

Prediction lz78y(Symbols s) { return lz78y(s, Counters::fitted); }

Prediction lz78y(Symbols s, Counters c) {
    const std::size_t n = s.n > LONGEST + 1 ? s.n - LONGEST - 1 : 0;
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
