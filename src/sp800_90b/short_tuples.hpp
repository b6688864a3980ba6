// The counts behind the t-Tuple and LRS estimates for tuples of a few bits,
// straight from a table of how often each window of `bits` bits occurs: a
// shorter tuple's count is the sum of its two extensions' by one bit, plus the
// one occurrence at the very end that has no extension.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sp800_90b/packed_suffixes.hpp"

namespace veltrane::sp800_90b {

struct ShortTuples {
    // top[i-1]: occurrences of the most frequent i-tuple; pairs[i-1]: the sum
    // over the distinct i-tuples of C(count, 2); i = 1..bits.
    std::vector<std::uint64_t> top, pairs;
};

// windows[v]: how often the `bits` bits at positions p..p+bits-1 read v (first
// bit highest), over p = 0..n-bits; n >= bits, 2^bits entries. Consumed.
inline ShortTuples count_short_tuples(std::vector<std::uint64_t> windows, unsigned bits, const PackedSuffixes& text) {
    ShortTuples out;
    out.top.resize(bits);
    out.pairs.resize(bits);
    const std::uint64_t n = text.size();
    for (unsigned i = bits; i >= 1; --i) {
        if (i < bits) {
            for (std::size_t v = 0; v < (std::size_t{1} << i); ++v) windows[v] = windows[2 * v] + windows[2 * v + 1];
            windows.resize(std::size_t{1} << i);
            ++windows[static_cast<std::size_t>(text.word_at(n - i) >> (64 - i))];  // the i-tuple at n - i
        }
        std::uint64_t top = 0, pairs = 0;
        for (const std::uint64_t c : windows) {
            top = std::max(top, c);
            pairs += c * (c - (c > 0)) / 2;
        }
        out.top[i - 1] = top;
        out.pairs[i - 1] = pairs;
    }
    return out;
}

}  // namespace veltrane::sp800_90b
