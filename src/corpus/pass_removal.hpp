// One pass's removal, whatever found the duplicate windows: the ranges they
// cover, shrunk to characters or lines, taken out of the text; what the next
// pass starts from (the text, where its bytes came from, the bytes it must
// look near); and at the end, the ranges removed from the text as given.
// The one-machine passes (dedup.cpp) and a shard of a cluster run (shard_pass)
// share it, so that both remove exactly the same bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "corpus/bitset.hpp"
#include "corpus/corpus_text.hpp"
#include "corpus/dedup.hpp"
#include "corpus/duplicate_ranges.hpp"
#include "util/big_array.hpp"

namespace veltrane::corpus {

// Where the bytes of the current text came from: `size` bytes at `at` were
// bytes at `origin` of the text as given.
struct Piece {
    std::uint64_t at;
    std::uint64_t origin;
    std::uint64_t size;
};

// The text a pass works on, and what the next pass inherits from the last.
struct PassText {
    util::BigArray<std::uint8_t> bytes;  // empty for the text as given
    std::vector<std::uint64_t> offsets;
    std::vector<Piece> pieces;
    Bitset near;  // bytes next to a removal, or marked and kept
};

// The ranges a pass removes: the covered ranges, shrunk, with those left
// empty kept alongside (their bytes stay marked).
struct Marked {
    std::vector<Range> covered;
    std::vector<Range> removed;  // same index; start == end when nothing goes
    std::uint64_t removed_total = 0;
};

Marked mark(const CorpusText& text, const Bitset& duplicates, const DedupOptions& options);

// The text after the removal (marked.removed_total > 0), with its pieces and
// the bytes the next pass must look near.
PassText remove(const CorpusText& text, const std::vector<Piece>& pieces, const Marked& marked);

// The complement of the kept pieces, as ranges inside the documents of the
// text as given (`original` offsets): document index, start and end in it.
void removed_ranges(std::span<const std::uint64_t> original, const std::vector<Piece>& pieces, DedupResult& result);

}  // namespace veltrane::corpus
