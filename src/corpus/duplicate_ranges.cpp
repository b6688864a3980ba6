#include "corpus/duplicate_ranges.hpp"

#include <algorithm>
#include <cstring>

namespace veltrane::corpus {

std::vector<Range> covered_ranges(const CorpusText& text, const Bitset& windows, std::uint64_t length) {
    std::vector<Range> ranges;
    std::size_t d = 0;
    std::size_t range_document = 0;
    windows.for_each([&](std::uint64_t p) {
        while (text.offsets[d + 1] <= p) ++d;
        if (!ranges.empty() && range_document == d && p <= ranges.back().end) {
            ranges.back().end = std::max(ranges.back().end, p + length);
        } else {
            ranges.push_back({p, p + length});
            range_document = d;
        }
    });
    return ranges;
}

namespace {

bool continues_character(std::uint8_t byte) { return (byte & 0xC0) == 0x80; }

// Whether a character begins at p (or p is the document's end). A character
// is a byte that is not 10xxxxxx and the continuation bytes after it, three at
// most: in bytes that are not UTF-8, a continuation byte after three others
// begins a character of its own. So a boundary lies within any four positions.
bool character_starts(const std::uint8_t* t, std::uint64_t p, std::uint64_t doc_start, std::uint64_t doc_end) {
    if (p == doc_start || p == doc_end || !continues_character(t[p])) return true;
    return p >= doc_start + 3 && continues_character(t[p - 1]) && continues_character(t[p - 2]) &&
           continues_character(t[p - 3]);
}

}  // namespace

Range shrink_range(const CorpusText& text, Range range, std::uint64_t doc_start, std::uint64_t doc_end,
                   bool whole_lines) {
    const std::uint8_t* t = text.bytes;
    auto [a, b] = range;
    if (whole_lines) {
        // Line starts are character boundaries, so this cut is the stricter one.
        if (a != doc_start && t[a - 1] != '\n') {
            const void* newline = std::memchr(t + a, '\n', b - a);
            a = newline == nullptr ? b : static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(newline) - t) + 1;
        }
        if (b != doc_end && a < b && t[b - 1] != '\n') {
            while (b > a && t[b - 1] != '\n') --b;
        }
    } else {
        while (a < b && !character_starts(t, a, doc_start, doc_end)) ++a;
        while (b > a && !character_starts(t, b, doc_start, doc_end)) --b;
    }
    return a < b ? Range{a, b} : Range{a, a};
}

}  // namespace veltrane::corpus
