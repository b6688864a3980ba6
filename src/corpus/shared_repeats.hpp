// What the documents of a corpus share: the repeats search (maximal,
// non-periodic, ranked fragments with greedy non-overlapping occurrences) on
// the whole corpus, with no occurrence crossing from one document into the
// next, and every occurrence placed in its document with its lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "corpus/corpus_text.hpp"
#include "strings/repeats/options.hpp"
#include "strings/repeats/result.hpp"

namespace veltrane::corpus {

// found: the fragments as the repeats search gives them, with every start
// (max_starts is ignored) as a position of the corpus and firsts likewise.
// Per stored start i: its document, its start inside it, and the lines (from
// 1, counting '\n') of its first and last byte. Per fragment: how many
// documents its occurrences touch.
struct SharedRepeats {
    strings::repeats::RepeatsResult found;
    std::vector<std::uint64_t> documents;
    std::vector<std::uint64_t> starts;
    std::vector<std::uint64_t> lines;
    std::vector<std::uint64_t> end_lines;
    std::vector<std::uint64_t> documents_touched;
};

// Throws std::invalid_argument for bad offsets or options (min_count must be
// at least 2 here), std::bad_alloc, pool::Cancelled.
SharedRepeats find_shared_repeats(const CorpusText& text, const strings::repeats::Options& options);

namespace detail {
// The ways the search can go, for tests to compare: the sampled regions or
// whole documents; bytes with a free byte value as separator, or wide
// symbols; at most `sets` searches side by side (0: one per pool thread).
struct Paths {
    bool sampled = true;
    bool by_bytes = true;
    std::size_t sets = 0;
};
SharedRepeats find_shared_repeats(const CorpusText& text, strings::repeats::Options options, Paths paths);
}  // namespace detail

}  // namespace veltrane::corpus
