// The final step shared by the four predictors.
#include "prediction_result.hpp"

#include <cmath>

#include "bounds.hpp"

namespace veltrane::sp800_90b {

namespace {

// The probability that n trials, each a success with probability p, hold no run
// of r successes, in the closed form the standard approximates it with:
// (1 - p x) / ((r + 1 - r x) (1 - p)) / x^(n+1), x the smallest root >= 1 of
// x = 1 + (1 - p) p^r x^(r+1). Worked in y = x - 1: x itself sits within 1e-9
// of 1 at the p that matters, and 1 + y would round y to a few digits.
double no_run_probability(double p, std::uint64_t r, std::uint64_t n) {
    if (p <= 0) return 1;
    if (p >= 1) return 0;
    const double q = 1 - p;
    const double rd = static_cast<double>(r);
    const double log_base = std::log(q) + rd * std::log(p);
    // The iteration from y = 0 climbs monotonically to the smallest root; the
    // other root is y = q / p (x = 1/p), where the formula gives 0.
    const double y_cap = q / p;
    double y = 0;
    for (int it = 0; it < 100000; ++it) {
        const double next = std::exp(log_base + (rd + 1) * std::log1p(y));
        if (next >= y_cap) return 0;
        if (next == y) break;
        y = next;
    }
    const double ratio = (q - p * y) / ((1 - rd * y) * q);
    return ratio * std::exp(-(static_cast<double>(n) + 1) * std::log1p(y));
}

}  // namespace

double local_bound(std::uint64_t r, std::uint64_t n) {
    if (r > n) return 1;
    // no_run_probability falls from 1 at p = 0 to 0 at p = 1: bisect down to
    // adjacent doubles.
    double lo = 0, hi = 1;
    for (;;) {
        const double mid = lo + (hi - lo) / 2;
        if (mid <= lo || mid >= hi) break;
        (no_run_probability(mid, r, n) > 0.99 ? lo : hi) = mid;
    }
    return lo + (hi - lo) / 2;
}

Prediction prediction_result(std::uint64_t correct, std::uint64_t longest_run, std::uint64_t n, unsigned k) {
    Prediction out;
    out.c = correct;
    out.r = longest_run + 1;
    out.n = n;
    if (n == 0) {
        out.p_global_prime = 1;
    } else {
        out.p_global = static_cast<double>(correct) / static_cast<double>(n);
        // With no correct prediction, the bound is the p at which none in n
        // happens with probability 0.01: 1 - 0.01^(1/n), without the
        // cancellation of subtracting a power near 1.
        out.p_global_prime =
            correct == 0 ? -std::expm1(std::log(0.01) / static_cast<double>(n)) : upper_bound(out.p_global, n);
    }
    out.p_local = local_bound(out.r, n);
    out.p_local_used = out.p_local > out.p_global_prime;
    const double floor = 1.0 / static_cast<double>(std::max(k, 1u));
    const double p_max = std::max({floor, out.p_global_prime, out.p_local_used ? out.p_local : 0.0});
    out.min_entropy = p_max >= 1 ? 0.0 : -std::log2(p_max);
    return out;
}

}  // namespace veltrane::sp800_90b
