// The corpus is searched as one sequence in which every document is followed
// by a symbol of its own that occurs nowhere else: no fragment that occurs
// twice can hold one, so none crosses a boundary, and the search itself stays
// as it is. Bytes keep their values 0..255; the separators take 256 on, so the
// sequence needs 16-bit symbols up to 65,280 documents and 32-bit ones beyond
// (a corpus of one document is searched as bytes).
#include "corpus/shared_repeats.hpp"

#include <algorithm>
#include <span>
#include <stdexcept>

#include "pool/cancel.hpp"
#include "strings/repeats/search.hpp"
#include "util/big_array.hpp"

namespace veltrane::corpus {

namespace {

namespace rp = strings::repeats;

template <class I, class S>
rp::RepeatsResult search_separated(const CorpusText& text, const rp::Options& options) {
    const std::size_t documents = text.documents();
    const std::uint64_t n = text.size() + documents - 1;
    util::BigArray<S> symbols(n);
    std::uint64_t at = 0;
    for (std::size_t d = 0; d < documents; ++d) {
        pool::checkpoint();
        for (std::uint64_t p = text.offsets[d]; p < text.offsets[d + 1]; ++p) symbols[at++] = text.bytes[p];
        if (d + 1 < documents) symbols[at++] = static_cast<S>(256 + d);
    }
    return rp::detail::search_ranked<I, S>(symbols.data(), static_cast<I>(n), static_cast<I>(256 + documents - 1),
                                           options);
}

template <class I>
rp::RepeatsResult search_with_index(const CorpusText& text, const rp::Options& options) {
    if (text.documents() <= 1) {
        return rp::detail::search_ranked<I, std::uint8_t>(text.bytes, static_cast<I>(text.size()), I{256}, options);
    }
    if (256 + text.documents() - 1 <= 65536) return search_separated<I, std::uint16_t>(text, options);
    return search_separated<I, I>(text, options);
}

// Lines of every stored start and of the last byte of its occurrence, by one
// walk over the corpus counting '\n' from the start of each document.
void place_lines(const CorpusText& text, SharedRepeats& shared) {
    struct Event {
        std::uint64_t position;
        std::uint64_t slot;  // 2 * start index, + 1 for the last byte
    };
    std::vector<Event> events;
    events.reserve(2 * shared.starts.size());
    for (std::size_t f = 0; f < shared.found.size(); ++f) {
        for (std::uint64_t i = shared.found.offsets[f]; i < shared.found.offsets[f + 1]; ++i) {
            const std::uint64_t at = text.offsets[shared.documents[i]] + shared.starts[i];
            events.push_back({at, 2 * i});
            events.push_back({at + shared.found.lengths[f] - 1, 2 * i + 1});
        }
    }
    std::sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.position < b.position; });
    shared.lines.assign(shared.starts.size(), 0);
    shared.end_lines.assign(shared.starts.size(), 0);
    std::size_t d = 0;
    std::uint64_t counted_to = 0, line = 1;
    for (const Event& e : events) {
        pool::checkpoint();
        while (text.offsets[d + 1] <= e.position) ++d;
        if (counted_to < text.offsets[d]) {
            counted_to = text.offsets[d];
            line = 1;
        }
        line += static_cast<std::uint64_t>(std::count(text.bytes + counted_to, text.bytes + e.position, '\n'));
        counted_to = e.position;
        (e.slot % 2 == 0 ? shared.lines : shared.end_lines)[e.slot / 2] = line;
    }
}

}  // namespace

SharedRepeats find_shared_repeats(const CorpusText& text, rp::Options options) {
    check_offsets(text.offsets, text.size());
    rp::validate(options);
    if (options.min_count < 2) {
        throw std::invalid_argument("min_count must be at least 2 across documents, not " +
                                    std::to_string(options.min_count));
    }
    options.max_starts.reset();
    SharedRepeats shared;
    const std::uint64_t n = text.size() + (text.documents() == 0 ? 0 : text.documents() - 1);
    if (text.size() == 0 || options.top == std::uint64_t{0} || options.min_length > text.size()) return shared;
    shared.found = n < UINT32_MAX - 1 ? search_with_index<std::uint32_t>(text, options)
                                      : search_with_index<std::uint64_t>(text, options);
    // Positions of the separated sequence back to documents: document d begins at offsets[d] + d.
    const bool separated = text.documents() > 1;
    auto place = [&](std::uint64_t s, std::uint64_t& document, std::uint64_t& start) {
        if (!separated) {
            document = 0;
            start = s;
            return;
        }
        std::size_t lo = 0, hi = text.documents();  // the last d with offsets[d] + d <= s
        while (hi - lo > 1) {
            const std::size_t mid = (lo + hi) / 2;
            (text.offsets[mid] + mid <= s ? lo : hi) = mid;
        }
        document = lo;
        start = s - text.offsets[lo] - lo;
    };
    shared.documents.resize(shared.found.starts.size());
    shared.starts.resize(shared.found.starts.size());
    for (std::size_t i = 0; i < shared.found.starts.size(); ++i) {
        place(shared.found.starts[i], shared.documents[i], shared.starts[i]);
        shared.found.starts[i] = text.offsets[shared.documents[i]] + shared.starts[i];
    }
    for (std::uint64_t& first : shared.found.firsts) {
        std::uint64_t document = 0, start = 0;
        place(first, document, start);
        first = text.offsets[document] + start;
    }
    for (std::size_t f = 0; f < shared.found.size(); ++f) {
        std::uint64_t touched = 0;
        for (std::uint64_t i = shared.found.offsets[f]; i < shared.found.offsets[f + 1]; ++i) {
            touched += i == shared.found.offsets[f] || shared.documents[i] != shared.documents[i - 1];
        }
        shared.documents_touched.push_back(touched);
    }
    place_lines(text, shared);
    return shared;
}

}  // namespace veltrane::corpus
