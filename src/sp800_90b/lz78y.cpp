// 6.3.10, the LZ78Y prediction estimate: one dictionary of the contexts of
// length 1..16 seen so far (at most 65,536 of them, admitted longest first),
// each with the counts of the symbols after it. The prediction is the most
// frequent successor of the context with the highest such count, the longest
// context on equal counts. Predicted: every sample after the first 17
// (N = n - 17).
#include <algorithm>
#include <array>
#include <vector>

#include "context_dictionary.hpp"
#include "counters.hpp"
#include "estimators.hpp"
#include "lz78y_bits.hpp"
#include "pool/cancel.hpp"
#include "prediction_result.hpp"

namespace veltrane::sp800_90b {

namespace {

using lz78y_limits::LONGEST;
using lz78y_limits::MAX_CONTEXTS;

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
                // (the filter's length passes 16 on symbols of one bit)
                const unsigned last = size < MAX_CONTEXTS ? LONGEST : std::min(upto, LONGEST);
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

Prediction lz78y(Symbols s, Counters c, BitTables b) {
    return predict_counted(s, c, LONGEST + 1, [&]<class Count>(CorrectTally& tally) {
        if (s.k <= 2 && b != BitTables::dictionary) {  // no vector way: portable is flat
            play_lz78y_bits<Count>(s, tally);
        } else {
            play<ContextDictionary<Count>>(s, tally);
        }
    });
}

}  // namespace veltrane::sp800_90b
