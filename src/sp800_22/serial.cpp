#include "sp800_22/serial.hpp"

#include <algorithm>
#include <cmath>

#include "pool/cancel.hpp"
#include "sp800_22/special_functions.hpp"

namespace veltrane::sp800_22 {

namespace {

// psi^2_m = 2^m / n * sum of squared counts - n; 0 for m <= 0.
double psi_squared(const std::vector<std::uint64_t>& counts, unsigned m, std::uint64_t n) {
    if (m == 0) return 0.0;
    double sum = 0.0;
    for (std::uint64_t c : counts) sum += static_cast<double>(c) * static_cast<double>(c);
    return sum * std::ldexp(1.0, static_cast<int>(m)) / static_cast<double>(n) - static_cast<double>(n);
}

// Phi^(m) = sum over the patterns that occur of pi ln pi, pi = count / n.
double phi(const std::vector<std::uint64_t>& counts, std::uint64_t n) {
    double sum = 0.0;
    for (std::uint64_t c : counts) {
        if (c == 0) continue;
        const double pi = static_cast<double>(c) / static_cast<double>(n);
        sum += pi * std::log(pi);
    }
    return sum;
}

}  // namespace

std::vector<std::uint64_t> cyclic_pattern_counts(const Bits& bits, unsigned width) {
    const std::uint64_t n = bits.size();
    std::vector<std::uint64_t> counts(std::size_t{1} << width, 0);
    if (width == 0) {
        counts[0] = n;
        return counts;
    }
    const Bits wrapped = bits.wrapped(width - 1);
    const std::uint64_t mask = (std::uint64_t{1} << width) - 1;
    const unsigned per_read = 64 - width + 1;
    for (std::uint64_t at = 0; at < n; at += per_read) {
        if ((at & 0xFFFF) < per_read) pool::checkpoint();
        const std::uint64_t w = wrapped.window(at);
        const unsigned here = static_cast<unsigned>(std::min<std::uint64_t>(per_read, n - at));
        for (unsigned t = 0; t < here; ++t) ++counts[(w >> (64 - width - t)) & mask];
    }
    return counts;
}

std::vector<std::uint64_t> shorter_patterns(const std::vector<std::uint64_t>& counts) {
    std::vector<std::uint64_t> shorter(counts.size() / 2);
    for (std::size_t v = 0; v < shorter.size(); ++v) shorter[v] = counts[2 * v] + counts[2 * v + 1];
    return shorter;
}

SerialFigures serial_test(const Bits& bits, unsigned m) {
    const std::uint64_t n = bits.size();
    SerialFigures f;
    f.block_length = m;
    const std::vector<std::uint64_t> c0 = cyclic_pattern_counts(bits, m);
    const std::vector<std::uint64_t> c1 = shorter_patterns(c0);
    f.psi_m = psi_squared(c0, m, n);
    f.psi_m1 = psi_squared(c1, m - 1, n);
    f.psi_m2 = m >= 2 ? psi_squared(shorter_patterns(c1), m - 2, n) : 0.0;
    f.del1 = f.psi_m - f.psi_m1;
    f.del2 = f.psi_m - 2.0 * f.psi_m1 + f.psi_m2;
    f.p_value1 = igamc(std::ldexp(1.0, static_cast<int>(m) - 2), f.del1 / 2.0);
    f.p_value2 = igamc(std::ldexp(1.0, static_cast<int>(m) - 3), f.del2 / 2.0);
    return f;
}

ApproximateEntropyFigures approximate_entropy_test(const Bits& bits, unsigned m) {
    const std::uint64_t n = bits.size();
    ApproximateEntropyFigures f;
    f.block_length = m;
    const std::vector<std::uint64_t> longer = cyclic_pattern_counts(bits, m + 1);
    f.phi_m1 = phi(longer, n);
    f.phi_m = phi(shorter_patterns(longer), n);
    f.apen = f.phi_m - f.phi_m1;
    f.chi_square = 2.0 * static_cast<double>(n) * (std::log(2.0) - f.apen);
    f.p_value = igamc(std::ldexp(1.0, static_cast<int>(m) - 1), f.chi_square / 2.0);
    return f;
}

}  // namespace veltrane::sp800_22
