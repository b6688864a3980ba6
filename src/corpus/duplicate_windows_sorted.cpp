// Duplicate windows from the suffix array: the windows whose bytes are equal
// form a run of neighbouring rows (every suffix beginning with those bytes),
// found by comparing each row with the one before it, `length` bytes at most.
// The run also holds suffixes whose first `length` bytes run into the next
// document; they are no windows and are passed over.
#include <algorithm>
#include <cstring>

#include "corpus/duplicate_windows.hpp"
#include "pool/cancel.hpp"
#include "pool/pool.hpp"
#include "strings/frag/suffix_array.hpp"
#include "util/big_array.hpp"

namespace veltrane::corpus {

Bitset window_starts(const CorpusText& text, std::uint64_t length) {
    Bitset starts(text.size());
    for (std::size_t d = 0; d < text.documents(); ++d) {
        if (text.offsets[d + 1] - text.offsets[d] >= length) {
            starts.set_range(text.offsets[d], text.offsets[d + 1] - length + 1);
        }
    }
    return starts;
}

namespace {

template <class I>
void mark_runs(const CorpusText& text, std::uint64_t length, Keep keep, Bitset& duplicates) {
    const std::uint8_t* t = text.bytes;
    const I n = static_cast<I>(text.size());
    util::BigArray<I> sa(n);
    strings::frag::sort_suffixes<std::uint8_t, I>(t, n, I{256}, sa.data());
    const Bitset windows = window_starts(text, length);
    // Neighbouring rows mostly differ within their first eight bytes: those
    // are compared in a register before any call.
    const auto same = [&](I a, I b) {
        if (std::uint64_t{a} + length > n || std::uint64_t{b} + length > n) return false;
        if (length >= 8) {
            std::uint64_t x, y;
            std::memcpy(&x, t + a, 8);
            std::memcpy(&y, t + b, 8);
            if (x != y) return false;
        }
        return std::memcmp(t + a, t + b, length) == 0;
    };
    // A run that begins in one piece is finished by it, past the piece's end;
    // the next piece starts after it.
    const std::size_t pieces = n < (I{1} << 20) ? 1 : pool::piece_count(n);
    pool::run_tasks(pieces, [&](std::size_t piece) {
        auto [begin, end] = pool::piece_range(n, pieces, piece);
        I r = static_cast<I>(begin);
        if (r > 0) {
            while (r < n && same(sa[r - 1], sa[r])) {
                if ((r & 0xFFFF) == 0) pool::checkpoint();
                ++r;
            }
        }
        while (r < static_cast<I>(end)) {
            if ((r & 0xFFFF) == 0) pool::checkpoint();
            const I first_row = r++;
            while (r < n) {
                if (r + 32 < n) {
                    // A window of a repeated block is compared to its end: both of its lines.
                    __builtin_prefetch(t + sa[r + 32]);
                    __builtin_prefetch(t + sa[r + 32] + 64);
                }
                if (!same(sa[r - 1], sa[r])) break;
                ++r;
            }
            if (r - first_row < 2) continue;
            I earliest = n, found = 0;
            for (I row = first_row; row < r; ++row) {
                if (windows.test(sa[row])) {
                    earliest = std::min(earliest, sa[row]);
                    ++found;
                }
            }
            if (found < 2) continue;
            for (I row = first_row; row < r; ++row) {
                const I p = sa[row];
                if (windows.test(p) && (keep == Keep::none || p != earliest)) duplicates.set_shared(p);
            }
        }
    });
}

}  // namespace

Bitset duplicate_windows_sorted(const CorpusText& text, std::uint64_t length, Keep keep) {
    Bitset duplicates(text.size());
    if (length == 0 || text.size() < length) return duplicates;
    if (text.size() < UINT32_MAX - 1) {
        mark_runs<std::uint32_t>(text, length, keep, duplicates);
    } else {
        mark_runs<std::uint64_t>(text, length, keep, duplicates);
    }
    return duplicates;
}

}  // namespace veltrane::corpus
