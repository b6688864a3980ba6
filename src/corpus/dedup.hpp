// Exact deduplication of a corpus: the byte ranges to remove so that no
// window of min_length bytes repeats, under one of two rules:
// - Keep::first: a byte goes when a window covering it has bytes that fill an
//   earlier window of the corpus (the first copy of everything stays);
// - Keep::none: a byte goes when a window covering it has bytes that fill
//   another window anywhere (every copy goes).
// Each maximal range of such bytes is shrunk to whole UTF-8 characters (and
// with whole_lines to whole lines), then removed. Removing bytes joins what
// was around them, which can make windows repeat anew, so this runs pass
// after pass until a pass would remove nothing: the result is a fixed point,
// and deduplicating its output again removes nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "corpus/corpus_text.hpp"
#include "corpus/duplicate_windows.hpp"

namespace veltrane::corpus {

struct DedupOptions {
    std::uint64_t min_length = 100;
    Keep keep = Keep::first;
    bool whole_lines = false;
};

// Range i is bytes [starts[i], ends[i]) of document documents[i] (positions
// inside the document), ascending and disjoint; removing them all leaves the
// fixed point. `passes` counts the passes run, the last of which removed
// nothing (1 when the corpus has no duplicate).
struct DedupResult {
    std::vector<std::uint64_t> documents;
    std::vector<std::uint64_t> starts;
    std::vector<std::uint64_t> ends;
    unsigned passes = 0;
    std::uint64_t removed_bytes = 0;
};

// Throws std::invalid_argument, with the message a user sees, for an option
// outside its domain.
void validate(const DedupOptions& options);

// Throws std::invalid_argument for bad offsets or options, std::bad_alloc when
// memory runs out, pool::Cancelled when interrupted. The first pass costs
// about a suffix array of the corpus; later ones a hash of every window.
DedupResult find_duplicate_spans(const CorpusText& text, const DedupOptions& options);

namespace detail {
// The same, with the passes after the first always looking near the last
// removals when `always_near` (so that tests reach that way on small inputs).
DedupResult find_duplicate_spans(const CorpusText& text, const DedupOptions& options, bool always_near);
}  // namespace detail

}  // namespace veltrane::corpus
