// 6.3.3 on bits: a first-order Markov model and its most likely 128-bit path.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "pool/cancel.hpp"
#include "sp800_90b/bit_input.hpp"
#include "sp800_90b/entropy_of.hpp"
#include "sp800_90b/estimators.hpp"

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
    constexpr std::size_t STRIDE = std::size_t{1} << 20;
    for (std::size_t begin = 0; begin < s.n; begin += STRIDE) {
        pool::checkpoint();
        const std::size_t end = std::min(s.n, begin + STRIDE);
        for (std::size_t i = begin; i < end; ++i) {
            ones += s.data[i];
            if (i + 1 < s.n) ++pairs[2u * s.data[i] + s.data[i + 1]];
        }
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
