// P(max count <= x) = N! [t^N] prod_i E_x(p_i t), with E_x(z) = sum_{j<=x} z^j / j!:
// the coefficient sums N! / prod c_i! * prod p_i^c_i over the count vectors whose
// counts are all at most x. The floor(1/p) equal factors are raised to their
// power by repeated squaring, every series cut off at t^N.
//
// Scaling. Unscaled, the coefficients span N! (10^2568 for N = 1000) and leave
// double range. The series are taken in s t instead (coefficient j of a factor is
// (p s)^j / j!): a coefficient of a product of factors of total probability q is
// at most (q s)^n / n! <= e^s, and the wanted one is s^N / N! times the
// probability. With s = min(N, 600) both stay inside double range for N up to
// RESTART_MAX_DRAWS. A term that underflows to 0 on the way is below e^-708 and
// meets partners of at most e^600, so what it would have added is far below the
// last bit of the probability.
#include "sp800_90b_restart/restart_cutoff.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "sp800_90b_restart/truncated_series.hpp"

namespace veltrane::sp800_90b {

namespace {

constexpr double MAX_SCALE = 600.0;
constexpr double MAX_MIN_ENTROPY = 8.0;  // one sample per byte

// The inverted near-uniform distribution of min-entropy h.
struct Distribution {
    double p = 0.0;           // the probability of each of the equal values
    std::uint64_t equal = 0;  // floor(1 / p) of them
    double rest = 0.0;        // what one more value takes; 0 when nothing remains
    std::uint64_t values() const { return equal + (rest > 0.0 ? 1 : 0); }
};

void check_arguments(double h, std::uint64_t draws) {
    if (!(h > 0.0 && h <= MAX_MIN_ENTROPY)) {
        throw std::invalid_argument("min-entropy h must be in (0, 8], got " + std::to_string(h));
    }
    if (draws == 0 || draws > RESTART_MAX_DRAWS) {
        throw std::invalid_argument("draws must be from 1 to " + std::to_string(RESTART_MAX_DRAWS) + ", got " +
                                    std::to_string(draws));
    }
}

Distribution inverted_near_uniform(double h) {
    Distribution d;
    d.p = std::exp2(-h);
    d.equal = static_cast<std::uint64_t>(std::floor(1.0 / d.p));
    // 1 / p rounded up to an integer it does not reach: one value fewer.
    while (static_cast<double>(d.equal) * d.p > 1.0) --d.equal;
    d.rest = 1.0 - static_cast<double>(d.equal) * d.p;
    return d;
}

double probability(const Distribution& d, std::uint64_t x, std::uint64_t draws) {
    if (x >= draws) return 1.0;
    if (x * d.values() < draws) return 0.0;  // some value must be drawn more than x times
    const std::size_t n = static_cast<std::size_t>(draws);
    const double scale = std::min(static_cast<double>(draws), MAX_SCALE);

    // f^equal as f^(2^i) over the set bits i of `equal`; the top power stays two
    // copies of the one below it, so that of their product only t^N is formed.
    unsigned top = 0;
    while ((d.equal >> (top + 1)) != 0) ++top;
    std::vector<restart::Series> squares{restart::truncated_exponential(d.p * scale, x, n)};
    for (unsigned i = 1; i < std::max(top, 1u); ++i) squares.push_back(restart::product(squares.back(), squares.back(), n));
    std::vector<const restart::Series*> factors;
    for (unsigned i = 0; i < top; ++i) {
        if ((d.equal >> i) & 1) factors.push_back(&squares[i]);
    }
    const restart::Series remainder = restart::truncated_exponential(d.rest * scale, x, n);
    if (d.rest > 0.0) factors.push_back(&remainder);
    if (top == 0) {
        factors.push_back(&squares[0]);
    } else {
        factors.push_back(&squares[top - 1]);
        factors.push_back(&squares[top - 1]);
    }

    double coefficient;
    if (factors.size() == 1) {
        coefficient = factors[0]->size() > n ? (*factors[0])[n] : 0.0;
    } else {
        restart::Series partial = *factors[0];
        for (std::size_t i = 1; i + 1 < factors.size(); ++i) partial = restart::product(partial, *factors[i], n);
        coefficient = restart::coefficient(partial, *factors.back(), n);
    }
    // N! / s^N, one factor at a time: its partial products stay within range.
    double normaliser = 1.0;
    for (std::size_t i = 1; i <= n; ++i) normaliser *= static_cast<double>(i) / scale;
    return std::min(1.0, coefficient * normaliser);
}

}  // namespace

double restart_alpha(std::uint64_t restarts) {
    if (restarts == 0) throw std::invalid_argument("restarts must be 1 or more, got 0");
    return 1.0 - std::pow(0.99, 1.0 / (2.0 * static_cast<double>(restarts)));
}

double max_count_probability(double h, std::uint64_t x, std::uint64_t draws) {
    check_arguments(h, draws);
    return probability(inverted_near_uniform(h), x, draws);
}

std::uint64_t restart_cutoff(double h, double alpha, std::uint64_t draws) {
    check_arguments(h, draws);
    if (!(alpha > 0.0 && alpha < 1.0)) {
        throw std::invalid_argument("alpha must be in (0, 1), got " + std::to_string(alpha));
    }
    const Distribution d = inverted_near_uniform(h);
    const double target = 1.0 - alpha;
    auto enough = [&](std::uint64_t x) { return probability(d, x, draws) >= target; };

    // Below `lowest` the probability is 0; at `draws` it is 1. The search starts
    // at the mean count of a most likely value, where the quantile is near and
    // each probability cheap, and widens its steps upwards from there.
    const std::uint64_t lowest = (draws + d.values() - 1) / d.values();
    const std::uint64_t start =
        std::clamp(static_cast<std::uint64_t>(static_cast<double>(draws) * d.p), lowest, draws);
    std::uint64_t fails = lowest - 1, passes = start;  // fails < answer <= passes
    if (!enough(start)) {
        fails = start;
        for (std::uint64_t step = 1;; step *= 2) {
            passes = std::min(draws, fails + step);
            if (enough(passes)) break;
            fails = passes;
        }
    }
    while (passes - fails > 1) {
        const std::uint64_t middle = fails + (passes - fails) / 2;
        (enough(middle) ? passes : fails) = middle;
    }
    return passes;
}

}  // namespace veltrane::sp800_90b
