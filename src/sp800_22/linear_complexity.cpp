#include "sp800_22/linear_complexity.hpp"

#include <array>
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

LinearComplexityFigures linear_complexity_test(const Bits& bits, std::uint64_t block_length, bool compatible) {
    LinearComplexityFigures f;
    f.block_length = block_length;
    f.blocks = bits.size() / block_length;
    f.discarded = bits.size() % block_length;
    f.probabilities = compatible ? PROGRAM : EXACT;
    const double m = static_cast<double>(block_length);
    const double sign = block_length % 2 ? -1.0 : 1.0;  // (-1)^M
    const double mu = m / 2.0 + (9.0 - sign) / 36.0 - (m / 3.0 + 2.0 / 9.0) / std::pow(2.0, m);
    for (std::uint64_t k = 0; k < f.blocks; ++k) {
        if ((k & 0x3F) == 0) pool::checkpoint();
        const double l = linear_complexity(bits, k * block_length, block_length);
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
