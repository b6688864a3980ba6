#include "sp800_90b_iid/bit_runs.hpp"

#include <algorithm>
#include <bit>

#include "util/popcount.hpp"

namespace veltrane::sp800_90b::iid {

namespace {

// The bits from `from` up to `to` (exclusive) of a word set; from < to <= 64.
std::uint64_t span(unsigned from, unsigned to) {
    const std::uint64_t upto = to == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << to) - 1;
    return upto & ~((std::uint64_t{1} << from) - 1);
}

// The longest run of set bits of x: each step shortens every run by one.
unsigned longest_ones(std::uint64_t x) {
    unsigned k = 0;
    while (x != 0) {
        x &= x >> 1;
        ++k;
    }
    return k;
}

}  // namespace

Runs runs_of_bits(const std::uint64_t* words, std::size_t m) {
    Runs r;
    if (m == 0) return r;
    const std::size_t last_word = (m - 1) / 64;
    // A run ends at position i where bit i differs from bit i + 1, and at the
    // end: mark those ends, count them, and measure the gaps between them.
    std::int64_t previous_end = -1;
    for (std::size_t w = 0; w <= last_word; ++w) {
        std::uint64_t bits = words[w];
        const unsigned valid = w == last_word ? static_cast<unsigned>(m - 64 * last_word) : 64;
        if (valid < 64) bits &= (std::uint64_t{1} << valid) - 1;
        r.ones += util::popcount64(bits);
        const std::uint64_t next_first = w < last_word ? (words[w + 1] & 1) : 0;
        std::uint64_t ends = bits ^ ((bits >> 1) | (next_first << 63));
        if (valid < 64) ends &= (std::uint64_t{1} << valid) - 1;
        if (w == last_word) ends |= std::uint64_t{1} << (valid - 1);
        if (ends == 0) continue;
        r.count += util::popcount64(ends);
        const unsigned first = static_cast<unsigned>(std::countr_zero(ends));
        const unsigned last = 63 - static_cast<unsigned>(std::countl_zero(ends));
        const std::int64_t base = static_cast<std::int64_t>(64 * w);
        r.longest = std::max<std::uint64_t>(r.longest, static_cast<std::uint64_t>(base + first - previous_end));
        if (last > first + 1) {
            // Inside the word, a run is one more than a stretch of clear end bits.
            r.longest = std::max<std::uint64_t>(r.longest, longest_ones(~ends & span(first + 1, last)) + 1);
        } else if (last == first + 1) {
            r.longest = std::max<std::uint64_t>(r.longest, 1);
        }
        previous_end = base + last;
    }
    return r;
}

}  // namespace veltrane::sp800_90b::iid
