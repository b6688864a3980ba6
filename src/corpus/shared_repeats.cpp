// The corpus is searched as a few sequences, side by side (region_bins.hpp),
// each made of regions that can hold a repeat (repeat_regions.hpp; with a
// short min_length, the documents), each region followed by a separator that
// matches nothing. No fragment that occurs twice can hold
// a separator, so none crosses a boundary, and the search itself stays as it
// is. The regions hold every occurrence of every string of at least
// min_length bytes that occurs twice, so each candidate has the same
// occurrences there as in the corpus; a one-element extension of a candidate
// that occurs twice is such a string too, and one that occurs once counts
// fewer than the candidate either way: counts, maximality and the rest are
// those of the corpus. Positions map back region by region, in order, so the
// ranking's ties (the earlier first start) stay as they are.
//
// The separator is a byte value that occurs in no region: the sequence stays
// bytes, which libdivsufsort sorts. Without one the regions' bytes keep their
// values 0..255 and each separator is a symbol of its own from 256 on (16-bit
// symbols up to 65,280 regions, 32-bit ones beyond), sorted by induced sorting.
#include "corpus/shared_repeats.hpp"

#include <algorithm>
#include <optional>
#include <span>
#include <stdexcept>

#include "corpus/region_bins.hpp"
#include "corpus/repeat_regions.hpp"
#include "pool/cancel.hpp"
#include "pool/pool.hpp"
#include "strings/repeats/merge_ranked.hpp"
#include "strings/repeats/search.hpp"
#include "util/big_array.hpp"
#include "util/count_bytes.hpp"

namespace veltrane::corpus {

namespace {

namespace rp = strings::repeats;

// The regions back to back, a separator between two: where each begins in
// that sequence, and the way back to positions of the corpus.
struct Joined {
    const CorpusText& text;
    std::vector<Region> regions;
    std::vector<std::uint64_t> starts;  // of each region in the sequence
    std::uint64_t size = 0;

    Joined(const CorpusText& t, std::vector<Region>&& r) : text(t), regions(std::move(r)) {
        starts.reserve(regions.size());
        for (const Region& region : regions) {
            if (!starts.empty()) ++size;
            starts.push_back(size);
            size += region.end - region.start;
        }
    }

    // Writes the sequence: `separator(j)` follows region j.
    template <class S, class Separator>
    void write(S* out, Separator&& separator) const {
        for (std::size_t j = 0; j < regions.size(); ++j) {
            pool::checkpoint();
            if (j > 0) *out++ = separator(j - 1);
            out = std::copy(text.bytes + regions[j].start, text.bytes + regions[j].end, out);
        }
    }

    // A byte value that occurs in no region, if there is one.
    std::optional<std::uint8_t> unused_byte() const {
        util::ByteHistogram counts{};
        for (const Region& region : regions) {
            for (std::uint64_t p = region.start; p < region.end;) {
                pool::checkpoint();
                const std::uint64_t stop = std::min<std::uint64_t>(region.end, p + (1u << 24));
                util::count_block(text.bytes + p, stop - p, counts);
                p = stop;
            }
        }
        for (unsigned b = 0; b < 256; ++b) {
            if (counts[b] == 0) return static_cast<std::uint8_t>(b);
        }
        return std::nullopt;
    }

    std::uint64_t corpus_position(std::uint64_t s) const {
        const std::size_t j = static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), s) -
                                                       starts.begin()) - 1;
        return regions[j].start + (s - starts[j]);
    }
};

template <class I>
rp::RepeatsResult search_as_bytes(const Joined& joined, const rp::Options& options, std::uint8_t separator) {
    util::BigArray<std::uint8_t> bytes(joined.size);
    joined.write(bytes.data(), [&](std::size_t) { return separator; });
    const std::uint64_t marks = joined.regions.size() > 1 ? separator : strings::frag::NO_SEPARATOR;
    return rp::detail::search_ranked<I, std::uint8_t>(bytes.data(), static_cast<I>(joined.size), I{256}, options,
                                                      rp::detail::SortSymbols{}, marks);
}

template <class I, class S>
rp::RepeatsResult search_as_symbols(const Joined& joined, const rp::Options& options) {
    util::BigArray<S> symbols(joined.size);
    joined.write(symbols.data(), [](std::size_t j) { return static_cast<S>(256 + j); });
    const I alphabet = static_cast<I>(256 + joined.regions.size() - 1);
    return rp::detail::search_ranked<I, S>(symbols.data(), static_cast<I>(joined.size), alphabet, options);
}

template <class I>
rp::RepeatsResult search_joined(const Joined& joined, const rp::Options& options, bool by_bytes) {
    if (joined.regions.size() <= 1) return search_as_bytes<I>(joined, options, 0);
    if (const auto separator = by_bytes ? joined.unused_byte() : std::nullopt; separator) {
        return search_as_bytes<I>(joined, options, *separator);
    }
    if (256 + joined.regions.size() - 1 <= 65536) return search_as_symbols<I, std::uint16_t>(joined, options);
    return search_as_symbols<I, I>(joined, options);
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
    return detail::find_shared_repeats(text, options, {});
}

SharedRepeats detail::find_shared_repeats(const CorpusText& text, rp::Options options, Paths paths) {
    check_offsets(text.offsets, text.size());
    rp::validate(options);
    if (options.min_count < 2) {
        throw std::invalid_argument("min_count must be at least 2 across documents, not " +
                                    std::to_string(options.min_count));
    }
    options.max_starts.reset();
    SharedRepeats shared;
    if (text.size() == 0 || options.top == std::uint64_t{0} || options.min_length > text.size()) return shared;
    std::vector<std::vector<Region>> sets = region_bins(repeat_regions(text, paths.sampled ? options.min_length : 0),
                                                        paths.sets ? paths.sets : pool::thread_count());
    std::vector<rp::RepeatsResult> parts(sets.size());
    auto search_set = [&](std::size_t i) {
        const Joined joined(text, std::move(sets[i]));
        parts[i] = joined.size < UINT32_MAX - 1 ? search_joined<std::uint32_t>(joined, options, paths.by_bytes)
                                                : search_joined<std::uint64_t>(joined, options, paths.by_bytes);
        for (std::uint64_t& s : parts[i].starts) s = joined.corpus_position(s);
        for (std::uint64_t& first : parts[i].firsts) first = joined.corpus_position(first);
    };
    // One set keeps the pool for the search's own steps; several share it.
    if (sets.size() == 1) {
        search_set(0);
    } else {
        pool::run_tasks(sets.size(), [&](std::size_t i) { search_set(i); });
    }
    if (parts.empty()) return shared;
    shared.found = rp::merge_ranked(std::move(parts), options.top);
    shared.documents.resize(shared.found.starts.size());
    shared.starts.resize(shared.found.starts.size());
    for (std::size_t i = 0; i < shared.found.starts.size(); ++i) {
        shared.documents[i] = document_of(text.offsets, shared.found.starts[i]);
        shared.starts[i] = shared.found.starts[i] - text.offsets[shared.documents[i]];
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
