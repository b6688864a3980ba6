// From duplicate windows to the bytes a deduplication removes: the bytes the
// windows cover, as maximal ranges inside one document each, then shrunk so
// that no character (and, when asked, no line) is cut in two.
#pragma once

#include <cstdint>
#include <vector>

#include "corpus/bitset.hpp"
#include "corpus/corpus_text.hpp"

namespace veltrane::corpus {

// [start, end) in the corpus's positions, inside one document.
struct Range {
    std::uint64_t start;
    std::uint64_t end;
    friend bool operator==(const Range&, const Range&) = default;
};

// The maximal ranges of bytes that some window of `length` bytes starting at
// a position of `windows` covers, ascending. Ranges of two documents never
// merge, even where they touch.
std::vector<Range> covered_ranges(const CorpusText& text, const Bitset& windows, std::uint64_t length);

// `range` (inside the document [doc_start, doc_end)) less the bytes of the
// characters it holds only in part: it starts and ends where a UTF-8
// character begins (at a byte that is not 10xxxxxx, or at the document's
// edges; in bytes that are not UTF-8, a continuation byte after three others
// begins one too, so a range loses at most three bytes at either end). With
// whole_lines it is cut to the whole lines it holds instead, a line ending
// after its '\n' or at the document's end. Empty when nothing is left.
Range shrink_range(const CorpusText& text, Range range, std::uint64_t doc_start, std::uint64_t doc_end,
                   bool whole_lines);

}  // namespace veltrane::corpus
