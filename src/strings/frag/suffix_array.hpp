// Suffix array and LCP array of a sequence over an integer alphabet.
//
// The suffix array comes from induced sorting (linear time, any alphabet that
// has been reduced to ranks 0..K-1); the end of the sequence acts as a unique
// symbol smaller than every other, so no sentinel is ever stored and the value
// 0 is an ordinary symbol.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#include "pool/cancel.hpp"
#include "pool/pool.hpp"
#include "strings/frag/byte_suffix_array.hpp"
#include "strings/frag/separator.hpp"
#include "util/big_array.hpp"

namespace veltrane::strings::frag {

namespace detail {

// Marks each position S-type (1: its suffix is smaller than the next one) or
// L-type (0). The empty suffix at n counts as S.
template <class S, class I>
std::vector<std::uint8_t> suffix_types(const S* s, I n) {
    std::vector<std::uint8_t> stype(static_cast<std::size_t>(n) + 1);
    stype[n] = 1;
    stype[n - 1] = 0;
    for (I i = n - 1; i-- > 0;) stype[i] = s[i] < s[i + 1] || (s[i] == s[i + 1] && stype[i + 1]);
    return stype;
}

// Bucket bounds of every symbol: starts[c] is the first slot of symbol c,
// starts[c + 1] one past its last.
template <class S, class I>
std::vector<I> bucket_starts(const S* s, I n, I alphabet) {
    std::vector<I> starts(static_cast<std::size_t>(alphabet) + 1, 0);
    for (I i = 0; i < n; ++i) ++starts[static_cast<std::size_t>(s[i]) + 1];
    for (I c = 0; c < alphabet; ++c) starts[c + 1] += starts[c];
    return starts;
}

// From LMS suffixes placed at the ends of their buckets, sorts every suffix:
// L-types left to right, then S-types right to left.
template <class S, class I>
void induce(const S* s, I n, const std::vector<std::uint8_t>& stype, const std::vector<I>& starts, I* sa) {
    constexpr I EMPTY = std::numeric_limits<I>::max();
    const std::size_t alphabet = starts.size() - 1;
    std::vector<I> head(starts.begin(), starts.end() - 1);
    sa[head[s[n - 1]]++] = n - 1;  // induced by the empty suffix, which sorts first
    for (I i = 0; i < n; ++i) {
        if ((i & 0xFFFF) == 0) pool::checkpoint();
        const I j = sa[i];
        if (j != EMPTY && j > 0 && !stype[j - 1]) sa[head[s[j - 1]]++] = j - 1;
    }
    std::vector<I> tail(starts.begin() + 1, starts.begin() + 1 + static_cast<std::ptrdiff_t>(alphabet));
    for (I i = n; i-- > 0;) {
        if ((i & 0xFFFF) == 0) pool::checkpoint();
        const I j = sa[i];
        if (j != EMPTY && j > 0 && stype[j - 1]) sa[--tail[s[j - 1]]] = j - 1;
    }
}

}  // namespace detail

// Fills sa[0..n) with the suffix array of s[0..n), symbols in [0, alphabet).
// O(n + alphabet) time, O(n) extra words.
template <class S, class I>
void build_suffix_array(const S* s, I n, I alphabet, I* sa) {
    constexpr I EMPTY = std::numeric_limits<I>::max();
    if (n == 0) return;
    if (n == 1) {
        sa[0] = 0;
        return;
    }
    const std::vector<std::uint8_t> stype = detail::suffix_types(s, n);
    auto is_lms = [&](I i) { return i > 0 && i < n && stype[i] && !stype[i - 1]; };
    const std::vector<I> starts = detail::bucket_starts(s, n, alphabet);

    // Stage 1: sort the LMS substrings by inducing from LMS positions in any order.
    std::fill(sa, sa + n, EMPTY);
    {
        std::vector<I> tail(starts.begin() + 1, starts.end());
        for (I i = 1; i < n; ++i) {
            if (is_lms(i)) sa[--tail[s[i]]] = i;
        }
    }
    detail::induce(s, n, stype, starts, sa);

    // Compact the sorted LMS positions to the front and name equal LMS substrings.
    I lms_count = 0;
    for (I i = 0; i < n; ++i) {
        if (is_lms(sa[i])) sa[lms_count++] = sa[i];
    }
    auto same_substring = [&](I a, I b) {
        for (I d = 0;; ++d) {
            // The end of the sequence is unique: a substring reaching it equals no other.
            if (a + d == n || b + d == n) return false;
            if (s[a + d] != s[b + d] || stype[a + d] != stype[b + d]) return false;
            if (d > 0 && (is_lms(a + d) || is_lms(b + d))) return is_lms(a + d) && is_lms(b + d);
        }
    };
    std::vector<I> name_at(static_cast<std::size_t>(n) / 2 + 1, EMPTY);  // LMS positions are >= 2 apart
    I names = 0;
    for (I i = 0; i < lms_count; ++i) {
        if ((i & 0xFFFF) == 0) pool::checkpoint();
        if (i == 0 || !same_substring(sa[i - 1], sa[i])) ++names;
        name_at[sa[i] / 2] = names - 1;
    }
    std::vector<I> lms_positions;  // in text order
    std::vector<I> reduced;        // their names, in text order
    lms_positions.reserve(lms_count);
    reduced.reserve(lms_count);
    for (I i = 1; i < n; ++i) {
        if (is_lms(i)) {
            lms_positions.push_back(i);
            reduced.push_back(name_at[i / 2]);
        }
    }
    name_at = {};

    // Stage 2: order of the LMS suffixes, recursively when names repeat.
    std::vector<I> reduced_sa(lms_count);
    if (names < lms_count) {
        build_suffix_array<I, I>(reduced.data(), lms_count, names, reduced_sa.data());
    } else {
        for (I i = 0; i < lms_count; ++i) reduced_sa[reduced[i]] = i;
    }
    reduced = {};

    // Stage 3: place the sorted LMS suffixes at their bucket ends and induce the rest.
    std::fill(sa, sa + n, EMPTY);
    {
        std::vector<I> tail(starts.begin() + 1, starts.end());
        for (I i = lms_count; i-- > 0;) {
            const I j = lms_positions[reduced_sa[i]];
            sa[--tail[s[j]]] = j;
        }
    }
    detail::induce(s, n, stype, starts, sa);
}

// Below this many bytes induced sorting is the faster: libdivsufsort's
// tables of 256 x 256 buckets cost about 0.2 ms a call whatever the input.
inline constexpr std::uint64_t BYTE_SORT_FROM = 1 << 14;

// The suffix array by the construction that suits the symbols: bytes (but few)
// go to libdivsufsort, wider symbols to induced sorting. Both give the same order.
template <class S, class I>
void sort_suffixes(const S* s, I n, I alphabet, I* sa) {
    if constexpr (std::is_same_v<S, std::uint8_t>) {
        if (n >= BYTE_SORT_FROM) {
            build_byte_suffix_array(s, n, sa);
            return;
        }
    }
    build_suffix_array<S, I>(s, n, alphabet, sa);
}

// The LCP array in text order: plcp[p] = length of the longest common prefix
// of suffix p and the suffix sorted just before it (0 for the first suffix of
// the order), so that the LCP of rows r - 1 and r is plcp[sa[r]]. Readers in
// row order fetch plcp[sa[r]] themselves rather than from a copy gathered in
// row order, which would cost another n words and a pass of random reads.
// Each position starts from the previous one's value minus one; the text is
// cut into pieces on the worker pool, a piece starting from 0, which costs at
// most one extra long comparison per piece. O(n) time, no words beyond plcp.
//
// With a `separator` (separator.hpp), sequences joined by it and sorted with
// it as a plain symbol get the LCPs they have kept apart. The step from
// one position to the next still holds: a match of h symbols holds no
// separator, so the suffixes one further on match over h - 1 and keep their order.
template <class S, class I>
util::BigArray<I> build_text_order_lcp(const S* s, I n, const I* sa, std::uint64_t separator = NO_SEPARATOR) {
    util::BigArray<I> plcp(n);
    if (n == 0) return plcp;
    // First the suffix just before suffix p in the order (n for the first one);
    // each is replaced by the LCP with it. Both passes wait on memory at
    // random places: asking for it some steps ahead keeps several reads in
    // flight (within a piece, where nothing else writes).
    constexpr std::size_t AHEAD = 16;
    const std::size_t pieces = pool::piece_count(static_cast<std::size_t>(n) / 65536 + 1);
    plcp[sa[0]] = n;
    pool::run_tasks(pieces, [&](std::size_t piece) {
        auto [begin, end] = pool::piece_range(n, pieces, piece);
        for (std::size_t r = std::max<std::size_t>(begin, 1); r < end; ++r) {
            if ((r & 0xFFFF) == 0) pool::checkpoint();
            if (r + AHEAD < end) __builtin_prefetch(plcp.data() + sa[r + AHEAD], 1);
            plcp[sa[r]] = sa[r - 1];
        }
    });
    pool::run_tasks(pieces, [&](std::size_t piece) {
        auto [begin, end] = pool::piece_range(n, pieces, piece);
        I h = 0;
        for (std::size_t pos = begin; pos < end; ++pos) {
            if ((pos & 0xFFFF) == 0) pool::checkpoint();
            // The suffix AHEAD on matches at least h - AHEAD of its predecessor.
            if (pos + AHEAD < end) {
                const I ahead = plcp[pos + AHEAD];
                if (ahead != n) __builtin_prefetch(s + ahead + (h > AHEAD ? h - AHEAD : 0));
            }
            const I p = static_cast<I>(pos);
            const I q = plcp[p];
            if (q == n) {
                h = 0;
                plcp[p] = 0;
                continue;
            }
            while (p + h < n && q + h < n && s[p + h] == s[q + h] && std::uint64_t{s[p + h]} != separator) ++h;
            plcp[p] = h;
            h = h > 0 ? h - 1 : 0;
        }
    });
    return plcp;
}

}  // namespace veltrane::strings::frag
