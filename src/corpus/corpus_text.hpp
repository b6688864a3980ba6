// A corpus as the engines see it: every document's bytes back to back, and
// where each document begins. Nothing the engines report crosses from one
// document into the next.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace veltrane::corpus {

struct CorpusText {
    const std::uint8_t* bytes = nullptr;
    // documents() + 1 ascending entries, the first 0 and the last the total
    // size: document d is bytes[offsets[d] .. offsets[d + 1]).
    std::span<const std::uint64_t> offsets;

    std::uint64_t size() const { return offsets.empty() ? 0 : offsets.back(); }
    std::size_t documents() const { return offsets.empty() ? 0 : offsets.size() - 1; }
};

// Throws std::invalid_argument, with the message a user sees, unless the
// offsets start at 0, never decrease and end at `size`.
void check_offsets(std::span<const std::uint64_t> offsets, std::uint64_t size);

// The document that holds position p (p < size), by binary search; empty
// documents hold no position.
std::size_t document_of(std::span<const std::uint64_t> offsets, std::uint64_t p);

// Calls run(first, stop) for each document in turn whose windows of `length`
// bytes (inside the document) start in [begin, end): their starts are
// [first, stop), positions of the corpus.
template <class Run>
void for_each_window_run(const CorpusText& text, std::uint64_t length, std::uint64_t begin, std::uint64_t end,
                         Run&& run) {
    for (std::size_t d = begin < text.size() ? document_of(text.offsets, begin) : text.documents();
         d < text.documents() && text.offsets[d] < end; ++d) {
        const std::uint64_t doc_end = text.offsets[d + 1];
        if (doc_end - text.offsets[d] < length) continue;
        const std::uint64_t first = std::max(begin, text.offsets[d]);
        const std::uint64_t stop = std::min(end, doc_end - length + 1);
        if (first < stop) run(first, stop);
    }
}

}  // namespace veltrane::corpus
