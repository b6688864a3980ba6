#include "corpus/pass_removal.hpp"

#include <algorithm>
#include <cstring>

#include "pool/cancel.hpp"

namespace veltrane::corpus {

Marked mark(const CorpusText& text, const Bitset& duplicates, const DedupOptions& options) {
    Marked marked;
    marked.covered = covered_ranges(text, duplicates, options.min_length);
    marked.removed.reserve(marked.covered.size());
    std::size_t d = 0;
    for (const Range& range : marked.covered) {
        while (text.offsets[d + 1] <= range.start) ++d;
        marked.removed.push_back(shrink_range(text, range, text.offsets[d], text.offsets[d + 1], options.whole_lines));
        marked.removed_total += marked.removed.back().end - marked.removed.back().start;
    }
    return marked;
}

PassText remove(const CorpusText& text, const std::vector<Piece>& pieces, const Marked& marked) {
    PassText next;
    const std::uint64_t n = text.size() - marked.removed_total;
    next.bytes = util::BigArray<std::uint8_t>(n);
    next.near = Bitset(n);
    next.offsets.resize(text.offsets.size());
    // Removed bytes before the i-th range, and the new position of a kept byte.
    std::uint64_t shift = 0, copied_to = 0;
    std::size_t d = 0;
    auto copy_until = [&](std::uint64_t end) {
        if (end > copied_to) std::memcpy(next.bytes.data() + copied_to - shift, text.bytes + copied_to, end - copied_to);
        copied_to = std::max(copied_to, end);
    };
    for (std::size_t i = 0; i < marked.covered.size(); ++i) {
        if ((i & 0xFFF) == 0) pool::checkpoint();
        const Range covered = marked.covered[i], removed = marked.removed[i];
        while (text.offsets[d + 1] <= covered.start) {
            next.offsets[d + 1] = text.offsets[d + 1] - shift;
            ++d;
        }
        if (removed.start == removed.end) {
            for (std::uint64_t p = covered.start; p < covered.end; ++p) next.near.set(p - shift);
            continue;
        }
        copy_until(removed.start);
        for (std::uint64_t p = covered.start; p < removed.start; ++p) next.near.set(p - shift);
        // A window across the join holds the byte before it: marking that one is enough.
        if (removed.start > text.offsets[d] && removed.end < text.offsets[d + 1]) {
            next.near.set(removed.start - 1 - shift);
        }
        copied_to = removed.end;
        shift += removed.end - removed.start;
        for (std::uint64_t p = removed.end; p < covered.end; ++p) next.near.set(p - shift);
    }
    copy_until(text.size());
    for (; d + 1 < text.offsets.size(); ++d) next.offsets[d + 1] = text.offsets[d + 1] - shift;

    // The pieces, less the removed ranges: the kept stretches between them,
    // each cut where a piece ends.
    std::size_t piece = 0;
    std::uint64_t a = 0;
    shift = 0;
    for (std::size_t r = 0; r <= marked.removed.size(); ++r) {
        if (r < marked.removed.size() && marked.removed[r].start == marked.removed[r].end) continue;
        const std::uint64_t b = r < marked.removed.size() ? marked.removed[r].start : text.size();
        while (a < b) {
            while (pieces[piece].at + pieces[piece].size <= a) ++piece;
            const Piece& from = pieces[piece];
            const std::uint64_t stop = std::min(b, from.at + from.size);
            next.pieces.push_back({a - shift, from.origin + (a - from.at), stop - a});
            a = stop;
        }
        if (r < marked.removed.size()) {
            shift += marked.removed[r].end - marked.removed[r].start;
            a = marked.removed[r].end;
        }
    }
    return next;
}

void removed_ranges(std::span<const std::uint64_t> original, const std::vector<Piece>& pieces, DedupResult& result) {
    std::uint64_t kept_to = 0;
    std::size_t d = 0;
    auto add_gap = [&](std::uint64_t a, std::uint64_t b) {
        while (a < b) {
            while (original[d + 1] <= a) ++d;
            const std::uint64_t stop = std::min(b, original[d + 1]);
            result.documents.push_back(d);
            result.starts.push_back(a - original[d]);
            result.ends.push_back(stop - original[d]);
            result.removed_bytes += stop - a;
            a = stop;
        }
    };
    for (const Piece& piece : pieces) {
        add_gap(kept_to, piece.origin);
        kept_to = piece.origin + piece.size;
    }
    add_gap(kept_to, original.empty() ? 0 : original.back());
}

}  // namespace veltrane::corpus
