// The passes of the deduplication.
//
// Why the passes after the first are cheap: let a pass remove ranges from
// text T, giving T'. Take a window w of T' that repeats (an earlier window, or
// another one, has its bytes). If neither w nor that other window spans a
// place where bytes were removed, both were windows of T already, in the same
// order, so w repeated in T: every byte of w was marked, and since w is in T'
// the shrinking kept them. So every window that repeats in T' holds a byte
// marked but kept, or spans a join, or has the bytes of a window that does:
// those bytes are all the next pass needs to look near (duplicate_windows_near).
#include "corpus/dedup.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "corpus/duplicate_ranges.hpp"
#include "pool/cancel.hpp"
#include "util/big_array.hpp"

namespace veltrane::corpus {

void validate(const DedupOptions& options) {
    if (options.min_length == 0) throw std::invalid_argument("min_length must be at least 1, not 0");
}

namespace {

// Where the bytes of the current text came from: `size` bytes at `at` were
// bytes at `origin` of the corpus as given.
struct Piece {
    std::uint64_t at;
    std::uint64_t origin;
    std::uint64_t size;
};

// The text a pass works on, the ranges it removes, and what the next pass
// inherits from it.
struct PassText {
    util::BigArray<std::uint8_t> bytes;  // empty for the corpus as given
    std::vector<std::uint64_t> offsets;
    std::vector<Piece> pieces;
    Bitset near;  // bytes next to a removal, or marked and kept
};

// The ranges a pass removes: the covered ranges, shrunk, with those left empty
// kept alongside (their bytes stay marked).
struct Marked {
    std::vector<Range> covered;
    std::vector<Range> removed;  // same index; start == end when nothing goes
};

Marked mark(const CorpusText& text, const Bitset& duplicates, const DedupOptions& options) {
    Marked marked;
    marked.covered = covered_ranges(text, duplicates, options.min_length);
    marked.removed.reserve(marked.covered.size());
    std::size_t d = 0;
    for (const Range& range : marked.covered) {
        while (text.offsets[d + 1] <= range.start) ++d;
        marked.removed.push_back(shrink_range(text, range, text.offsets[d], text.offsets[d + 1], options.whole_lines));
    }
    return marked;
}

// The text after the removal, with its pieces and the bytes the next pass must look near.
PassText remove(const CorpusText& text, const std::vector<Piece>& pieces, const Marked& marked,
                std::uint64_t removed_total) {
    PassText next;
    const std::uint64_t n = text.size() - removed_total;
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

// The complement of the kept pieces, as ranges inside documents of the corpus as given.
void removed_ranges(const CorpusText& original, const std::vector<Piece>& pieces, DedupResult& result) {
    std::uint64_t kept_to = 0;
    std::size_t d = 0;
    auto add_gap = [&](std::uint64_t a, std::uint64_t b) {
        while (a < b) {
            while (original.offsets[d + 1] <= a) ++d;
            const std::uint64_t stop = std::min(b, original.offsets[d + 1]);
            result.documents.push_back(d);
            result.starts.push_back(a - original.offsets[d]);
            result.ends.push_back(stop - original.offsets[d]);
            result.removed_bytes += stop - a;
            a = stop;
        }
    };
    for (const Piece& piece : pieces) {
        add_gap(kept_to, piece.origin);
        kept_to = piece.origin + piece.size;
    }
    add_gap(kept_to, original.size());
}

}  // namespace

DedupResult find_duplicate_spans(const CorpusText& original, const DedupOptions& options) {
    return detail::find_duplicate_spans(original, options, false);
}

DedupResult detail::find_duplicate_spans(const CorpusText& original, const DedupOptions& options, bool always_near) {
    validate(options);
    check_offsets(original.offsets, original.size());
    DedupResult result;
    PassText current;
    current.offsets.assign(original.offsets.begin(), original.offsets.end());
    if (original.size() > 0) current.pieces.push_back({0, 0, original.size()});
    for (unsigned pass = 1;; ++pass) {
        result.passes = pass;
        const CorpusText text{pass == 1 ? original.bytes : current.bytes.data(), current.offsets};
        Bitset duplicates(text.size());
        const std::uint64_t most_near = always_near ? UINT64_MAX : default_most_near(text);
        if (pass == 1 ||
            !duplicate_windows_near(text, options.min_length, options.keep, current.near, duplicates, most_near)) {
            duplicates = duplicate_windows_hashed(text, options.min_length, options.keep);
        }
        const Marked marked = mark(text, duplicates, options);
        std::uint64_t removed_total = 0;
        for (const Range& range : marked.removed) removed_total += range.end - range.start;
        if (removed_total == 0) break;
        current = remove(text, current.pieces, marked, removed_total);
    }
    removed_ranges(original, current.pieces, result);
    return result;
}

}  // namespace veltrane::corpus
