// 6.3.3 on bits: a first-order Markov model and its most likely 128-bit path.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "pool/cancel.hpp"
#include "sp800_90b/bit_input.hpp"
#include "sp800_90b/entropy_of.hpp"
#include "sp800_90b/estimators.hpp"
#include "sp800_90b/packed_bits.hpp"
#include "util/popcount.hpp"

namespace veltrane::sp800_90b {

namespace {

// A transition probability; a state never left (only at the very end, or
// never seen) has no outgoing transitions, and they count as 0.
double share(std::uint64_t part, std::uint64_t whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole);
}

}  // namespace

Markov markov(Symbols s) {
    require_bits(s, "Markov");
    Markov r;
    if (s.n == 0) return r;  // no samples: every figure stays 0
    std::array<std::uint64_t, 4> pairs{};  // index 2a+b: a followed by b
    std::uint64_t ones = 0;
    // 64 bits at a time, packed low bit first: a word and the same shifted by
    // one, with the next word's first bit on top, pair each bit with its
    // successor; the last bit has none.
    std::uint64_t word = pack_low_first(s.data, static_cast<unsigned>(std::min<std::size_t>(64, s.n)));
    for (std::size_t start = 0; start < s.n; start += 64) {
        if ((start & 0xFFFFF) == 0) pool::checkpoint();
        const auto len = static_cast<unsigned>(std::min<std::size_t>(64, s.n - start));
        const std::size_t next_start = start + 64;
        const std::uint64_t next =
            next_start < s.n ? pack_low_first(s.data + next_start, static_cast<unsigned>(std::min<std::size_t>(64, s.n - next_start))) : 0;
        // the pairs starting in this word: all 64 but where the sequence ends within it
        const unsigned starting = next_start < s.n ? 64 : len - 1;
        const std::uint64_t first = starting == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << starting) - 1;
        const std::uint64_t after = (word >> 1) | (next << 63);
        ones += util::popcount64(word);
        pairs[3] += util::popcount64(word & after & first);
        pairs[2] += util::popcount64(word & ~after & first);
        pairs[1] += util::popcount64(~word & after & first);
        pairs[0] += util::popcount64(~word & ~after & first);
        word = next;
    }
    const double n = static_cast<double>(s.n);
    r.p_1 = static_cast<double>(ones) / n;
    r.p_0 = static_cast<double>(s.n - ones) / n;
    r.p_00 = share(pairs[0], pairs[0] + pairs[1]);
    r.p_01 = share(pairs[1], pairs[0] + pairs[1]);
    r.p_10 = share(pairs[2], pairs[2] + pairs[3]);
    r.p_11 = share(pairs[3], pairs[2] + pairs[3]);
    // The six candidates for the most likely 128-bit sequence: constant,
    // alternating, or one switch at the start, from either first bit.
    const double paths[] = {
        r.p_0 * std::pow(r.p_00, 127),
        r.p_0 * std::pow(r.p_01, 64) * std::pow(r.p_10, 63),
        r.p_0 * r.p_01 * std::pow(r.p_11, 126),
        r.p_1 * r.p_10 * std::pow(r.p_00, 126),
        r.p_1 * std::pow(r.p_10, 64) * std::pow(r.p_01, 63),
        r.p_1 * std::pow(r.p_11, 127),
    };
    r.p_hat_max = *std::max_element(std::begin(paths), std::end(paths));
    r.min_entropy = std::min(1.0, min_entropy_of(r.p_hat_max) / 128.0);
    return r;
}

}  // namespace veltrane::sp800_90b
