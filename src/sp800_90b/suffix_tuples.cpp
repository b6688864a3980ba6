// The tuple counts from the suffix array: neighbours in suffix order share
// their longest common prefixes, the nested runs of neighbours sharing at
// least i symbols are the distinct repeated i-tuples (the lcp intervals), and
// one stack pass over the prefix lengths visits every such interval once.
#include "sp800_90b/suffix_tuples.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#include "pool/cancel.hpp"
#include "pool/pool.hpp"
#include "sp800_90b/bit_input.hpp"
#include "sp800_90b/bit_tuples.hpp"
#include "sp800_90b/neighbour_prefixes.hpp"
#include "sp800_90b/tuple_intervals.hpp"
#include "strings/frag/byte_suffix_array.hpp"
#include "util/big_array.hpp"

namespace veltrane::sp800_90b {

namespace {

// The common prefix length of the suffixes at a and b, eight symbols a step;
// `words` counts the steps.
std::uint64_t common_prefix(const std::uint8_t* s, std::uint64_t n, std::uint64_t a, std::uint64_t b,
                            std::uint64_t& words) {
    const std::uint64_t limit = n - std::max(a, b);
    std::uint64_t l = 0;
    for (; l + 8 <= limit; l += 8) {
        ++words;
        std::uint64_t x, y;
        std::memcpy(&x, s + a + l, 8);
        std::memcpy(&y, s + b + l, 8);
        if (x != y) {
            const std::uint64_t diff = x ^ y;
            const int bit = std::endian::native == std::endian::little ? std::countr_zero(diff) : std::countl_zero(diff);
            return l + static_cast<std::uint64_t>(bit >> 3);
        }
    }
    while (l < limit && s[a + l] == s[b + l]) ++l;
    return l;
}

// The linear method: the prefix lengths in text order (each at most one less
// than its predecessor's, so O(n) comparisons in all), then permuted into
// suffix order in place of the suffix array. 4 or 8 bytes per symbol beside it.
template <class I>
void replace_by_prefixes(const std::uint8_t* s, std::uint64_t n, util::BigArray<I>& sa) {
    const I none = static_cast<I>(n);  // sa[0] has no predecessor
    util::BigArray<I> text_order(n);  // first the predecessor in suffix order, then the length
    text_order[sa[0]] = none;
    for (std::uint64_t i = 1; i < n; ++i) text_order[sa[i]] = sa[i - 1];
    std::uint64_t l = 0;
    for (std::uint64_t j = 0; j < n; ++j) {
        if ((j & 0xFFFF) == 0) pool::checkpoint();
        if (text_order[j] == none) {
            l = 0;
            text_order[j] = 0;
            continue;
        }
        const std::uint64_t k = text_order[j];
        while (j + l < n && k + l < n && s[j + l] == s[k + l]) ++l;
        text_order[j] = static_cast<I>(l);
        if (l > 0) --l;
    }
    for (std::uint64_t i = 0; i < n; ++i) sa[i] = text_order[sa[i]];
}

// The tuple counts of all n suffixes from their prefix lengths (`prefix(i)`:
// suffixes i-1 and i, asked once each in increasing i, at most `longest`).
template <class I, class Prefix>
TupleCounts visit_intervals(std::uint64_t n, std::uint64_t longest, Prefix&& prefix) {
    IntervalTally<I> tally;
    tally.add(n, 0, longest, prefix);
    TupleCounts out;
    out.longest_repeat = tally.longest();
    out.top.resize(out.longest_repeat);
    out.pairs.resize(out.longest_repeat);
    tally.finish(0, out);
    return out;
}

template <class I>
TupleCounts from_compact(std::uint64_t n, const CompactPrefixes<I>& compact) {
    std::size_t next_large = 0;
    return visit_intervals<I>(n, compact.longest, [&](std::uint64_t i) -> std::uint64_t {
        const std::uint8_t l = compact.small[i];
        return l != CompactPrefixes<I>::LARGE ? l : compact.large[next_large++].second;
    });
}

template <class I>
TupleCounts count_with(Symbols s, TupleMethod method) {
    const std::uint64_t n = s.n;
    if constexpr (sizeof(I) == 4) {
        if (!method.bits_as_bytes && !method.permuted_lcp_only && all_bits(s)) {
            if (auto counts = count_bit_tuples(s.data, n)) return *std::move(counts);
        }
    }
    util::BigArray<I> sa(n);
    strings::frag::build_byte_suffix_array(s.data, static_cast<I>(n), sa.data());
    if (!method.permuted_lcp_only) {
        auto compact = compare_neighbours<I>(n, sa.data(), [&](std::uint64_t a, std::uint64_t b, std::uint64_t& words) {
            return common_prefix(s.data, n, a, b, words);
        });
        if (compact) {
            sa.reset();  // the pass needs the prefix lengths only
            return from_compact<I>(n, *compact);
        }
    }
    replace_by_prefixes(s.data, n, sa);
    const std::uint64_t longest = *std::max_element(sa.begin(), sa.end());
    return visit_intervals<I>(n, longest, [&](std::uint64_t i) -> std::uint64_t { return sa[i]; });
}

}  // namespace

TupleCounts count_tuples(Symbols s, TupleMethod method) {
    if (s.n == 0) return {};
    if (method.wide_indices || s.n > std::numeric_limits<std::uint32_t>::max() - 1) {
        return count_with<std::uint64_t>(s, method);
    }
    return count_with<std::uint32_t>(s, method);
}

}  // namespace veltrane::sp800_90b
