// The corpus is searched as one sequence in which every document is followed
// by a symbol of its own that occurs nowhere else: no fragment that occurs
// twice can hold one, so none crosses a boundary, and the search itself stays
// as it is. Bytes keep their values 0..255; the separators take 256 on, so the
// sequence needs 16-bit symbols up to 65,280 documents and 32-bit ones beyond
// (a corpus of one document is searched as bytes).
//
// The suffixes need not be sorted in that sequence's own order: any order in
// which the suffixes that begin with a fragment lie side by side serves. When
// some byte value occurs in no document, it stands for every separator in a
// copy of the bytes, which libdivsufsort sorts several times faster than the
// wide symbols sort: suffixes that begin with a fragment (no separator in it)
// begin with the same bytes in the copy, and only they do, since that byte is
// in no fragment.
#include "corpus/shared_repeats.hpp"

#include <algorithm>
#include <optional>
#include <span>
#include <stdexcept>

#include "pool/cancel.hpp"
#include "strings/frag/byte_suffix_array.hpp"
#include "strings/frag/suffix_array.hpp"
#include "strings/repeats/search.hpp"
#include "util/big_array.hpp"
#include "util/count_bytes.hpp"

namespace veltrane::corpus {

namespace {

namespace rp = strings::repeats;

// A byte value that occurs nowhere in the corpus, if there is one.
std::optional<std::uint8_t> unused_byte(const CorpusText& text) {
    const util::ByteHistogram counts = util::count_bytes(text.bytes, text.size());
    for (unsigned b = 0; b < 256; ++b) {
        if (counts[b] == 0) return static_cast<std::uint8_t>(b);
    }
    return std::nullopt;
}

// Sorts the separated sequence's suffixes as libdivsufsort sorts the bytes
// with `stand_in` for every separator.
struct SortWithStandIn {
    std::uint8_t stand_in;
    template <class S, class I>
    void operator()(const S* symbols, I n, I, I* sa) const {
        util::BigArray<std::uint8_t> bytes(n);
        for (I i = 0; i < n; ++i) bytes[i] = symbols[i] < 256 ? static_cast<std::uint8_t>(symbols[i]) : stand_in;
        strings::frag::build_byte_suffix_array(bytes.data(), n, sa);
    }
};

template <class I, class S>
rp::RepeatsResult search_separated(const CorpusText& text, const rp::Options& options, bool by_bytes) {
    const std::size_t documents = text.documents();
    const std::uint64_t n = text.size() + documents - 1;
    util::BigArray<S> symbols(n);
    std::uint64_t at = 0;
    for (std::size_t d = 0; d < documents; ++d) {
        pool::checkpoint();
        for (std::uint64_t p = text.offsets[d]; p < text.offsets[d + 1]; ++p) symbols[at++] = text.bytes[p];
        if (d + 1 < documents) symbols[at++] = static_cast<S>(256 + d);
    }
    const I alphabet = static_cast<I>(256 + documents - 1);
    if (const auto stand_in = by_bytes ? unused_byte(text) : std::nullopt; stand_in) {
        return rp::detail::search_ranked<I, S>(symbols.data(), static_cast<I>(n), alphabet, options,
                                               SortWithStandIn{*stand_in});
    }
    return rp::detail::search_ranked<I, S>(symbols.data(), static_cast<I>(n), alphabet, options);
}

template <class I>
rp::RepeatsResult search_with_index(const CorpusText& text, const rp::Options& options, bool by_bytes) {
    if (text.documents() <= 1) {
        return rp::detail::search_ranked<I, std::uint8_t>(text.bytes, static_cast<I>(text.size()), I{256}, options);
    }
    if (256 + text.documents() - 1 <= 65536) return search_separated<I, std::uint16_t>(text, options, by_bytes);
    return search_separated<I, I>(text, options, by_bytes);
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

SharedRepeats find_shared_repeats(const CorpusText& text, const rp::Options& options) {
    const std::uint64_t n = text.size() + (text.documents() == 0 ? 0 : text.documents() - 1);
    return detail::find_shared_repeats(text, options, n >= strings::frag::BYTE_SORT_FROM);
}

SharedRepeats detail::find_shared_repeats(const CorpusText& text, rp::Options options, bool sort_bytes) {
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
    shared.found = n < UINT32_MAX - 1 ? search_with_index<std::uint32_t>(text, options, sort_bytes)
                                      : search_with_index<std::uint64_t>(text, options, sort_bytes);
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
