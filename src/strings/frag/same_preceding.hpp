// For each row r of a suffix array: whether the suffixes of rows r - 1 and r
// both follow an element (neither starts the sequence) and follow the same
// one, which is not the sequence's separator (separator.hpp). The repeats search asks it of every two-row node of the LCP-interval
// tree; reading the two elements there, at random places of the sequence,
// cost more than the rest of the interval scan, while in row order on the pool
// the reads overlap. A bit per row.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "pool/cancel.hpp"
#include "pool/pool.hpp"
#include "strings/frag/separator.hpp"
#include "util/big_array.hpp"

namespace veltrane::strings::frag {

class SamePreceding {
public:
    SamePreceding() = default;

    template <class S, class I>
    SamePreceding(const S* s, I n, const I* sa, std::uint64_t separator = NO_SEPARATOR)
        : words_((static_cast<std::size_t>(n) + 63) / 64) {
        const std::size_t words = words_.size();
        const std::size_t pieces = pool::piece_count(words / 1024 + 1);
        pool::run_tasks(pieces, [&](std::size_t piece) {
            auto [begin, end] = pool::piece_range(words, pieces, piece);
            for (std::size_t w = begin; w < end; ++w) {
                if ((w & 0x3FF) == 0) pool::checkpoint();
                std::uint64_t word = 0;
                const std::size_t first = w == 0 ? 1 : 64 * w, last = std::min<std::size_t>(64 * w + 64, n);
                // Each row's element is read once, for itself and for the next row.
                bool had = sa[first - 1] > 0 && std::uint64_t{s[sa[first - 1] - 1]} != separator;
                S before = had ? s[sa[first - 1] - 1] : S{};
                for (std::size_t r = first; r < last; ++r) {
                    // The element before a suffix is at a random place: asked for ahead.
                    if (r + 16 < last && sa[r + 16] > 0) __builtin_prefetch(s + sa[r + 16] - 1);
                    const I q = sa[r];
                    const bool has = q > 0 && std::uint64_t{s[q - 1]} != separator;
                    const S here = has ? s[q - 1] : S{};
                    word |= static_cast<std::uint64_t>(had && has && before == here) << (r % 64);
                    had = has;
                    before = here;
                }
                words_[w] = word;
            }
        });
    }

    // Row 0 never is: no row comes before it.
    bool operator()(std::size_t r) const { return (words_[r / 64] >> (r % 64)) & 1; }

    // Whether every row of (lb, rb] is: all the rows lb..rb follow one element.
    bool all(std::size_t lb, std::size_t rb) const {
        for (std::size_t r = lb + 1; r <= rb;) {
            const std::size_t bit = r % 64, take = std::min<std::size_t>(64 - bit, rb - r + 1);
            const std::uint64_t mask = take == 64 ? ~std::uint64_t{0} : ((std::uint64_t{1} << take) - 1) << bit;
            if ((words_[r / 64] & mask) != mask) return false;
            r += take;
        }
        return true;
    }

private:
    util::BigArray<std::uint64_t> words_;
};

}  // namespace veltrane::strings::frag
