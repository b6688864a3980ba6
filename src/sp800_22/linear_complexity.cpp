#include "sp800_22/linear_complexity.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <vector>

#include "pool/cancel.hpp"
#include "sp800_22/special_functions.hpp"
#include "util/popcount.hpp"

namespace veltrane::sp800_22 {

namespace {

// The classes of T = (-1)^M (L - mu) + 2/9: up to -2.5, then steps of one, above 2.5.
constexpr std::array<double, 7> EXACT = {1.0 / 96, 1.0 / 32, 1.0 / 8, 1.0 / 2, 1.0 / 4, 1.0 / 16, 1.0 / 48};
// NIST's program: the first is 0.01047 where the standard has 0.010417 (1/96).
constexpr std::array<double, 7> PROGRAM = {0.01047, 0.03125, 0.125, 0.5, 0.25, 0.0625, 0.020833};

// Bits [start, start + 64) of a little-endian bit array with a spare zero word.
inline std::uint64_t slice(const std::uint64_t* words, std::uint64_t start) {
    const unsigned s = start & 63;
    const std::uint64_t* w = words + (start >> 6);
    return s == 0 ? w[0] : (w[0] >> s) | (w[1] << (64 - s));
}

}  // namespace

unsigned linear_complexity(const Bits& bits, std::uint64_t begin, std::uint64_t m) {
    // reversed: bit j (little-endian) is s_{m-1-j}. Then s_N, s_{N-1}, ... are
    // bits o, o+1, ... from o = m-1-N, the order the connection polynomial's
    // coefficients c_0, c_1, ... meet them. A window read most significant bit
    // first is such a word already.
    const std::size_t words = m / 64 + 2;
    std::vector<std::uint64_t> reversed(words, 0), c(words, 0), b(words, 0), t(words);
    for (std::uint64_t k = 0; 64 * k < m; ++k) {
        const std::uint64_t left = m - 64 * k;
        reversed[k] = left >= 64 ? bits.window(begin + left - 64) : bits.window(begin) >> (64 - left);
    }
    c[0] = b[0] = 1;
    std::uint64_t l = 0, b_degree = 0, last = 0;  // last: the step B was taken at, plus one
    for (std::uint64_t step = 0; step < m; ++step) {
        const std::uint64_t o = m - 1 - step;
        unsigned parity = 0;
        for (std::uint64_t k = 0; k <= l / 64; ++k) parity ^= util::popcount64(c[k] & slice(reversed.data(), o + 64 * k));
        if ((parity & 1) == 0) continue;
        // C(x) += x^(step - m') B(x)
        const std::uint64_t shift = step + 1 - last;
        const bool grows = 2 * l <= step;
        if (grows) t = c;
        const unsigned word_shift = static_cast<unsigned>(shift / 64), bit_shift = shift % 64;
        for (std::uint64_t k = 0; k <= b_degree / 64; ++k) {
            c[k + word_shift] ^= b[k] << bit_shift;
            if (bit_shift && k + word_shift + 1 < words) c[k + word_shift + 1] ^= b[k] >> (64 - bit_shift);
        }
        if (grows) {
            b_degree = l;
            l = step + 1 - l;
            last = step + 1;
            b.swap(t);
        }
    }
    return static_cast<unsigned>(l);
}

namespace {

// Transposes a 64 x 64 bit matrix: row r's bit c (from the least significant) becomes row c's bit r.
void transpose64(std::uint64_t* a) {
    std::uint64_t mask = 0x00000000FFFFFFFFull;
    for (unsigned j = 32; j != 0; j >>= 1, mask ^= mask << j) {
        for (unsigned k = 0; k < 64; k = (k + j + 1) & ~j) {
            const std::uint64_t t = ((a[k] >> j) ^ a[k + j]) & mask;
            a[k] ^= t << j;
            a[k + j] ^= t;
        }
    }
}

}  // namespace

void linear_complexities(const Bits& bits, std::uint64_t begin, std::uint64_t m, unsigned count, unsigned* out) {
    // s[j]: bit j of every block. A window read most significant bit first
    // holds bit t of the block in place 63 - t; reversing the rows' order
    // after the transpose puts block b in lane b.
    std::vector<std::uint64_t> s(m + 64, 0);
    std::uint64_t square[64];
    for (std::uint64_t at = 0; at < m; at += 64) {
        for (unsigned b = 0; b < 64; ++b) {
            std::uint64_t w = b < count ? bits.window(begin + b * m + at) : 0;
            if (m - at < 64) w &= ~std::uint64_t{0} << (64 - (m - at));
            square[b] = w;
        }
        transpose64(square);
        for (unsigned t = 0; t < 64; ++t) s[at + t] = square[63 - t];
    }
    // Berlekamp-Massey on every lane at once. B is kept already multiplied by
    // x^(N - m'), so that every lane shifts it by one place a step, and a lane
    // that grows takes the old C into it.
    std::vector<std::uint64_t> c(m + 2, 0), shifted(2 * m + 4, 0);
    std::vector<std::uint64_t> eligible_at(2 * m + 2, 0);  // lanes whose 2L reaches N at step N
    std::vector<unsigned> l(64, 0);
    const std::uint64_t lanes = count == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
    std::uint64_t* b = shifted.data() + m + 2;  // b[i]: coefficient i of x^(N - m') B
    c[0] = lanes;
    b[1] = lanes;  // m' = -1 at N = 0
    eligible_at[0] = lanes;
    std::uint64_t eligible = 0;
    std::size_t c_top = 0, b_top = 1;  // degree bounds
    for (std::uint64_t n = 0; n < m; ++n) {
        eligible |= eligible_at[n];
        std::uint64_t d = 0;
        for (std::size_t i = 0; i <= c_top && i <= n; ++i) d ^= c[i] & s[n - i];
        const std::uint64_t grow = d & eligible;
        if (d != 0) {
            const std::size_t top = std::max(c_top, b_top);
            for (std::size_t i = 0; i <= top; ++i) {
                const std::uint64_t ci = c[i], bi = b[i];
                c[i] = ci ^ (bi & d);
                b[i] = (bi & ~grow) | (ci & grow);
            }
            if (grow != 0) b_top = top;
            c_top = top;
        }
        for (std::uint64_t g = grow; g != 0; g &= g - 1) {
            const unsigned lane = static_cast<unsigned>(std::countr_zero(g));
            l[lane] = static_cast<unsigned>(n + 1 - l[lane]);
            eligible &= ~(std::uint64_t{1} << lane);
            if (2 * l[lane] < eligible_at.size()) eligible_at[2 * l[lane]] |= std::uint64_t{1} << lane;
        }
        --b;  // x B
        b[0] = 0;
        ++b_top;
    }
    for (unsigned lane = 0; lane < count; ++lane) out[lane] = l[lane];
}

LinearComplexityFigures linear_complexity_test(const Bits& bits, std::uint64_t block_length, bool compatible) {
    LinearComplexityFigures f;
    f.block_length = block_length;
    f.blocks = bits.size() / block_length;
    f.discarded = bits.size() % block_length;
    f.probabilities = compatible ? PROGRAM : EXACT;
    const double m = static_cast<double>(block_length);
    const double sign = block_length % 2 ? -1.0 : 1.0;  // (-1)^M
    const double mu = m / 2.0 + (9.0 - sign) / 36.0 - (m / 3.0 + 2.0 / 9.0) / std::pow(2.0, m);
    unsigned found[64];
    for (std::uint64_t k = 0; k < f.blocks; ++k) {
        if ((k & 0x3F) == 0) {
            pool::checkpoint();
            linear_complexities(bits, k * block_length, block_length,
                                static_cast<unsigned>(std::min<std::uint64_t>(64, f.blocks - k)), found);
        }
        const double l = found[k & 0x3F];
        const double t = sign * (l - mu) + 2.0 / 9.0;
        const unsigned cls = t <= -2.5 ? 0 : t <= -1.5 ? 1 : t <= -0.5 ? 2 : t <= 0.5 ? 3 : t <= 1.5 ? 4 : t <= 2.5 ? 5 : 6;
        ++f.counts[cls];
    }
    const auto blocks = static_cast<double>(f.blocks);
    for (unsigned i = 0; i < 7; ++i) {
        const double expected = blocks * f.probabilities[i];
        const double gap = static_cast<double>(f.counts[i]) - expected;
        f.chi_square += gap * gap / expected;
    }
    f.p_value = igamc(3.0, f.chi_square / 2.0);
    return f;
}

}  // namespace veltrane::sp800_22
