// LZ78Y on bits: the dictionary as flat tables of successor counts, one cell
// per context of each length 1..16 (binary_contexts.hpp).
//
// Two facts keep a step short. First, a context is admitted, if ever, when it
// first occurs, and every occurrence of a context is one of its shorter
// suffixes, admitted no later: so an admitted context's counts are at most its
// shorter admitted suffixes', and the prediction (the longest context whose
// most frequent successor's count is the highest) is found from the shortest
// up, stopping at the first admitted context whose count falls below the
// highest. On most data that is the second. Second, until the dictionary is
// full every context it meets is admitted, and once it is full the contexts
// outside it are the ones that then have no counts: marked so (REFUSED), they
// can count as the others do, unread. Either way the counting needs no test:
// a step adds one to each of its 16 cells. What is left to watch is when the
// dictionary fills: it meets new contexts only where the longest one is new
// (every suffix of a known context is known), and then the new ones are the
// longest few.
#include <cstdint>

#include "binary_contexts.hpp"
#include "counters.hpp"
#include "estimators.hpp"
#include "lz78y_bits.hpp"
#include "pool/cancel.hpp"
#include "prediction_result.hpp"

namespace veltrane::sp800_90b {

namespace {

using lz78y_limits::LONGEST;
using lz78y_limits::MAX_CONTEXTS;

// The first count of the cells of contexts the full dictionary left out; an
// admitted context's counts stay below it (a count is below n, and n below
// half of Count's range: counters.hpp).
template <class Count>
constexpr Count REFUSED = Count{1} << (8 * sizeof(Count) - 1);

// Where the steps are: the bits up to i - 1 (newest in the low bit) before
// step i, and those up to i + LOOKAHEAD - 1 after it; the dictionary's size.
struct Position {
    std::uint32_t history, ahead;
    std::size_t size;
};

// Plays the steps predicting data[start..start + len) (len <= 64) into bits of
// `right` (bit t: the prediction of start + t was right); gives the number of
// steps played, fewer than len where a step filled the dictionary (the last
// played). `full`: the dictionary is full and its outsiders are REFUSED.
// Not inlined: alone, its loop keeps its state in registers.
template <bool full, class Count>
[[gnu::noinline]] unsigned play_block(Symbols s, BinaryContexts<Count>& table, Position& at, std::size_t start,
                                      unsigned len, std::uint64_t& right) {
    using Table = BinaryContexts<Count>;
    const std::uint8_t* const data = s.data;
    const std::size_t n = s.n;
    std::uint32_t history = at.history, ahead = at.ahead;
    std::uint64_t outcomes = 0;
    unsigned t = 0;
    for (; t < len; ++t) {
        const std::size_t i = start + t;
        if (i + Table::LOOKAHEAD - 1 < n) {
            ahead = (ahead << 1) | data[i + Table::LOOKAHEAD - 1];
            table.prefetch(ahead);
        }
        const unsigned x = data[i];
        Count top = 0;
        unsigned hit = 0;
#pragma GCC unroll 16
        for (unsigned d = 1; d <= LONGEST; ++d) {
            const auto c = table.cell(history, d);
            const Count n0 = c.n[0], n1 = c.n[1];
            if constexpr (full) {
                if (n0 >= REFUSED<Count>) continue;
            }
            const Count most = n0 > n1 ? n0 : n1;
            // no count: nothing longer is known either
            if (most < top || most == 0) break;
            top = most;
            hit = static_cast<unsigned>(n1 >= n0) == x;  // 1 on a tie
        }
        outcomes |= std::uint64_t{hit} << t;
        if constexpr (!full) {
            const auto longest = table.cell(history, LONGEST);
            if ((longest.n[0] | longest.n[1]) == 0) {
                unsigned fresh = 1;  // the new contexts: this many of the longest
                while (fresh < LONGEST) {
                    const auto c = table.cell(history, LONGEST - fresh);
                    if ((c.n[0] | c.n[1]) != 0) break;
                    ++fresh;
                }
                if (at.size + fresh >= MAX_CONTEXTS) {
                    // It fills here, admitting the longest new ones that fit.
                    const auto admitted = static_cast<unsigned>(MAX_CONTEXTS - at.size);
                    for (unsigned d = 1; d <= LONGEST; ++d) {
                        if (d <= LONGEST - fresh || d > LONGEST - admitted) ++table.cell(history, d).n[x];
                    }
                    at.size = MAX_CONTEXTS;
                    history = (history << 1) | x;
                    ++t;
                    break;
                }
                at.size += fresh;
            }
        }
        table.count(history, x);
        history = (history << 1) | x;
    }
    at.history = history;
    at.ahead = ahead;
    right = outcomes;
    return t;
}

}  // namespace

template <class Count>
void play_lz78y_bits(Symbols s, CorrectTally& tally) {
    BinaryContexts<Count> table;
    using Table = BinaryContexts<Count>;
    static_assert(Table::LONGEST == LONGEST);
    Position at{0, 0, 0};
    for (std::size_t i = 0; i < LONGEST; ++i) at.history = (at.history << 1) | s.data[i];
    // the contexts the first sample predicted, data[16], follows (all new)
    const unsigned y = s.data[LONGEST];
    for (unsigned d = 1; d <= LONGEST; ++d) ++table.cell(at.history, d).n[y];
    at.size = LONGEST;
    at.history = (at.history << 1) | y;
    for (std::size_t p = 0; p < LONGEST + Table::LOOKAHEAD && p < s.n; ++p) at.ahead = (at.ahead << 1) | s.data[p];
    bool full = false;
    for (std::size_t start = LONGEST + 1; start < s.n;) {
        const auto len = static_cast<unsigned>(std::min<std::size_t>(64, s.n - start));
        std::uint64_t right = 0;
        const unsigned played = full ? play_block<true>(s, table, at, start, len, right)
                                     : play_block<false>(s, table, at, start, len, right);
        tally.add(right, played);
        start += played;
        if (!full && at.size == MAX_CONTEXTS) {
            table.for_each_cell([](typename Table::Cell c) {
                if ((c.n[0] | c.n[1]) == 0) c.n[0] = c.n[1] = REFUSED<Count>;
            });
            full = true;
        }
        pool::checkpoint();
    }
}

template void play_lz78y_bits<std::uint32_t>(Symbols, CorrectTally&);
template void play_lz78y_bits<std::uint64_t>(Symbols, CorrectTally&);

}  // namespace veltrane::sp800_90b
