// The windows of a corpus that repeat: a window is `length` bytes inside one
// document, named by its start. Under Keep::first a window is a duplicate
// when the same bytes fill a window that starts earlier in the corpus (an
// earlier document, or earlier in its own; the two may overlap); under
// Keep::none when they fill any other window. Windows that cross from one
// document into the next do not exist.
#pragma once

#include <cstdint>

#include "corpus/bitset.hpp"
#include "corpus/corpus_text.hpp"

namespace veltrane::corpus {

enum class Keep { first, none };

// The starts of every window (length >= 1).
Bitset window_starts(const CorpusText& text, std::uint64_t length);

// Every duplicate window, from the suffix array of the whole corpus: its
// windows with the same bytes sit side by side in it. About the suffix
// array's own time, and 4 (8 beyond 4 GiB) bytes per corpus byte.
Bitset duplicate_windows_sorted(const CorpusText& text, std::uint64_t length, Keep keep);

// Every duplicate window, by hashing every window in a few scans of the
// corpus (far faster than the suffix array; at most 3 bytes per corpus byte).
Bitset duplicate_windows_hashed(const CorpusText& text, std::uint64_t length, Keep keep);

// The duplicate windows whose bytes also fill a window holding a byte of
// `near` (a set over the corpus's positions), by hashing every window and
// looking it up among those few; none of the others. Returns false, marking
// nothing, when the windows near those bytes are more than `most_near` (by
// default a 32nd of the corpus, beyond which the lookup table would take more
// memory than hashing every window does, which then serves).
bool duplicate_windows_near(const CorpusText& text, std::uint64_t length, Keep keep, const Bitset& near,
                            Bitset& duplicates, std::uint64_t most_near);
// The table takes about 90 bytes a window near: up to 3 bytes per corpus byte.
inline std::uint64_t default_most_near(const CorpusText& text) { return text.size() / 32; }

}  // namespace veltrane::corpus
