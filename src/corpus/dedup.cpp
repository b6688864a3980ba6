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

#include "corpus/pass_removal.hpp"
#include "pool/cancel.hpp"
#include "util/big_array.hpp"

namespace veltrane::corpus {

void validate(const DedupOptions& options) {
    if (options.min_length == 0) throw std::invalid_argument("min_length must be at least 1, not 0");
}

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
        if (marked.removed_total == 0) break;
        current = remove(text, current.pieces, marked);
    }
    removed_ranges(original.offsets, current.pieces, result);
    return result;
}

}  // namespace veltrane::corpus
