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

// Where the steps on bits are: the bits up to i - 1 (newest in the low bit)
// before step i, and those up to i + LOOKAHEAD - 1 after it.
struct BitsAt {
    std::uint32_t history, ahead;
};

// Plays the steps predicting data[start..start + len) on bits (len <= 64): bit t
// of the result is whether the prediction of start + t was right. `full`: the
// dictionary holds MAX_CONTEXTS, so it counts only contexts it knows. The cell
// a length reads to predict x is the one x is then counted in (the next step
// would count it there first thing, longest first as here, so the dictionary
// admits the same contexts), so each step touches one cell per length, once.
// `peak` gathers the long counts read, for Table::crowded.
// Not inlined: alone, its loop keeps its state in registers.
template <bool full, class Table>
[[gnu::noinline]] std::uint64_t play_bits_block(Symbols s, Table& table, std::size_t& size_of, BitsAt& at,
                                                std::size_t start, unsigned len, unsigned& peak_of) {
    using Count = typename Table::Cell::value_type;
    const std::uint8_t* const data = s.data;
    const std::size_t n = s.n;
    std::size_t size = size_of;
    std::uint32_t history = at.history, ahead = at.ahead;
    std::uint64_t right = 0;
    unsigned peak = 0;
    for (unsigned t = 0; t < len; ++t) {
        const std::size_t i = start + t;
        if (i + Table::LOOKAHEAD - 1 < n) {
            ahead = (ahead << 1) | data[i + Table::LOOKAHEAD - 1];
            table.prefetch(ahead);
        }
        const unsigned x = data[i];
        Count top = 0;
        unsigned hit_bits = 0;  // 1 when the prediction so far is x
        // reads and counts one length's cell; gives the count it read
        auto visit = [&](auto& c) {
            const auto mine = c.n[x], other = c.n[x ^ 1];
            // the most frequent successor, 1 on a tie
            const Count most = mine > other ? mine : other;
            const bool better = most > top;
            top = better ? most : top;
            // select without a branch: GCC made one, mispredicted on data that looks random
            const unsigned candidate = std::uint64_t{mine} + x > other;
            hit_bits ^= (hit_bits ^ candidate) & (0u - static_cast<unsigned>(better));
            const bool known = (mine | other) != 0;
            if constexpr (full) {
                c.n[x] = static_cast<decltype(mine)>(mine + known);
            } else {
                const bool admit = known || size < MAX_CONTEXTS;
                size += admit && !known;
                c.n[x] = static_cast<decltype(mine)>(mine + admit);
            }
            return mine;
        };
#pragma GCC unroll 16
        for (unsigned j = LONGEST; j > Table::FLAT; --j) peak |= static_cast<unsigned>(visit(table.long_cell(history, j)));
#pragma GCC unroll 16
        for (unsigned j = Table::FLAT; j >= 1; --j) visit(table.short_cell(history, j));
        right |= std::uint64_t{hit_bits} << t;
        history = (history << 1) | x;
    }
    size_of = size;
    at = {history, ahead};
    peak_of |= peak;
    return right;
}

// The steps predicting data[start..n) with `table`, while it has room in its
// counts; gives where it stopped (n, or where it must be widened).
template <class Table>
std::size_t play_bits_from(Symbols s, Table& table, std::size_t& size, BitsAt& at, std::size_t start, CorrectTally& tally) {
    for (; start < s.n; start += 64) {
        const auto len = static_cast<unsigned>(std::min<std::size_t>(64, s.n - start));
        unsigned peak = 0;
        const std::uint64_t right = size == MAX_CONTEXTS ? play_bits_block<true>(s, table, size, at, start, len, peak)
                                                         : play_bits_block<false>(s, table, size, at, start, len, peak);
        tally.add(right, len);
        pool::checkpoint();
        if (Table::crowded(static_cast<typename Table::LongCell::value_type>(peak))) return start + len;
    }
    return start;
}

// The predictions of data[17..n) on bits into `tally`: on the narrow table
// while its long counts have room, then on a wide one.
template <class Count>
void play_bits(Symbols s, CorrectTally& tally) {
    using Narrow = BinaryContexts<Count, std::uint16_t>;
    static_assert(Narrow::LONGEST == LONGEST);
    std::size_t size = 0;
    BitsAt at{0, 0};
    for (std::size_t i = 0; i < LONGEST; ++i) at.history = (at.history << 1) | s.data[i];
    std::size_t start = LONGEST + 1;
    {
        Narrow table;
        // the contexts the first sample predicted, data[16], follows (all new)
        const unsigned y = s.data[LONGEST];
        for (unsigned j = LONGEST; j > Narrow::FLAT; --j) ++table.long_cell(at.history, j).n[y], ++size;
        for (unsigned j = Narrow::FLAT; j >= 1; --j) ++table.short_cell(at.history, j).n[y], ++size;
        at.history = (at.history << 1) | y;
        for (std::size_t p = 0; p < LONGEST + Narrow::LOOKAHEAD && p < s.n; ++p) at.ahead = (at.ahead << 1) | s.data[p];
        start = play_bits_from(s, table, size, at, start, tally);
        if (start >= s.n) return;
        BinaryContexts<Count> wide = table.widened();
        table = Narrow{};  // freed before the rest is played
        play_bits_from(s, wide, size, at, start, tally);
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
        lengths.emplace_back(j, bits, 0, s.data);  // lengths share the bound: grown as needed
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
                // past the filter's length only while the dictionary may still
                // admit the context (on wide symbols nearly all of those are new)
                const unsigned last = size < MAX_CONTEXTS ? LONGEST : upto;
                for (unsigned j = Model::FIRST_PREFETCHED; j <= last; ++j) lengths[j - 1].prefetch(ahead & mask[j]);
                filter.prefetch(ahead);
            }
            const std::uint8_t y = s.data[i - 1];
            for (unsigned j = LONGEST; j >= 1; --j) {
                if (seen[j] != Model::NONE) {
                    lengths[j - 1].increment(seen[j], y, true);
                } else if (size < MAX_CONTEXTS) {
                    lengths[j - 1].add(history & mask[j], i - 2, y);
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
    return predict_counted(s, c, LONGEST + 1, [&]<class Count>(CorrectTally& tally) {
        if (s.k <= 2) {
            play_bits<Count>(s, tally);
        } else {
            play<ContextDictionary<Count>>(s, tally);
        }
    });
}

}  // namespace veltrane::sp800_90b
