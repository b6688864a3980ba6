// 6.3.2 on bits: the walk from collision to collision, whose mean length ties
// to the most likely bit's probability.
#include <array>
#include <cmath>
#include <cstdint>

#include "pool/cancel.hpp"
#include "sp800_90b/bit_input.hpp"
#include "sp800_90b/bounds.hpp"
#include "sp800_90b/entropy_of.hpp"
#include "sp800_90b/estimators.hpp"
#include "sp800_90b/packed_bits.hpp"

namespace veltrane::sp800_90b {

namespace {

// The walk over 8 places at a time: from where it stands among them (0..2)
// and the 9 bits from the first (low bit first; a step decides by two bits
// and skips a third), how many steps of 2 and of 3 it takes to leave them, and
// where it then stands among the next 8. Packed as twos | threes << 3 | next << 5.
constexpr std::array<std::array<std::uint8_t, 512>, 3> make_strides() {
    std::array<std::array<std::uint8_t, 512>, 3> out{};
    for (unsigned from = 0; from < 3; ++from) {
        for (unsigned bits = 0; bits < 512; ++bits) {
            unsigned at = from, twos = 0, threes = 0;
            while (at < 8) {
                if (((bits >> at) & 1) == ((bits >> (at + 1)) & 1)) {
                    ++twos, at += 2;
                } else {
                    ++threes, at += 3;
                }
            }
            out[from][bits] = static_cast<std::uint8_t>(twos | threes << 3 | (at - 8) << 5);
        }
    }
    return out;
}

constexpr auto STRIDES = make_strides();

}  // namespace

Collision collision(Symbols s) {
    require_bits(s, "collision");
    // With two symbols a collision comes after two samples (equal pair) or
    // three (the third repeats one of two different ones). The walk stops where
    // the next step would run past the end: a trailing incomplete step is not
    // a collision and is not counted (so the sum of t_i may fall 1 or 2 short of n).
    std::uint64_t twos = 0, threes = 0;
    const std::size_t n = s.n;
    // Eight places at a time, the bits packed 64 to a word, while every bit
    // those steps may read is there; then place by place.
    std::size_t chunk = 0;
    unsigned from = 0;
    std::uint64_t next = n >= 64 ? pack_low_first(s.data, 64) : 0;
    while (chunk + 128 <= n) {
        if ((chunk & 0xFFFFF) == 0) pool::checkpoint();
        const std::uint64_t word = next;
        next = pack_low_first(s.data + chunk + 64, 64);
        for (unsigned k = 0; k < 64; k += 8) {
            const auto bits = static_cast<unsigned>(((word >> k) | (k == 0 ? 0 : next << (64 - k))) & 511);
            const std::uint8_t stride = STRIDES[from][bits];
            twos += stride & 7;
            threes += (stride >> 3) & 3;
            from = stride >> 5;
        }
        chunk += 64;
    }
    std::size_t i = chunk + from;
    while (i + 1 < n) {
        if ((i & 0xFFFFF) < 3) pool::checkpoint();  // steps of 2 or 3 pass here at least once per 2^20 samples
        if (s.data[i] == s.data[i + 1]) {
            ++twos;
            i += 2;
        } else if (i + 2 < n) {
            ++threes;
            i += 3;
        } else {
            break;
        }
    }
    Collision r;
    r.v = twos + threes;
    r.sum_t = 2 * twos + 3 * threes;
    r.p = 0.5;
    r.min_entropy = 1.0;
    // Fewer than two collisions leave the deviation undefined: no estimate,
    // reported as the tool's fallback (p at its lower bound 1/2, one bit).
    if (r.v < 2) return r;
    const double v = static_cast<double>(r.v);
    r.x_bar = static_cast<double>(r.sum_t) / v;
    const double d2 = 2.0 - r.x_bar, d3 = 3.0 - r.x_bar;
    r.sigma_hat = std::sqrt((static_cast<double>(twos) * d2 * d2 + static_cast<double>(threes) * d3 * d3) / (v - 1.0));
    // Below 2 the mean walk is shorter than any distribution allows: p = 1.
    r.x_bar_prime = std::max(2.0, r.x_bar - Z_ALPHA * r.sigma_hat / std::sqrt(v));
    // E[t] = 2 + 2p(1-p), solved for the larger root; none exists above 2.5.
    if (r.x_bar_prime < 2.5) {
        r.found_p = true;
        r.p = 0.5 + std::sqrt(1.25 - 0.5 * r.x_bar_prime);
        r.min_entropy = min_entropy_of(r.p);
    }
    return r;
}

}  // namespace veltrane::sp800_90b
