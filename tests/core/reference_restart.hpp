// The restart cutoff's reference models, for the tests: the distribution built by
// counting values up, and P(max count <= x) two ways that share nothing with the
// fast code's scaled, squared series:
// - by_outcomes: every count vector (c_1..c_m) summing to N, each weighted by its
//   multinomial probability N! / prod c_i! * prod p_i^c_i (tiny N and m only);
// - by_values: one value at a time, the count of value i given what is left being
//   binomial with the share p_i / (p_i + ... + p_m), in long double.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

namespace restart_reference {

// p = 2^-h for as many values as fit whole, then the rest if any.
inline std::vector<double> distribution(double h) {
    const double p = std::pow(2.0, -h);
    std::vector<double> probs;
    while (static_cast<double>(probs.size() + 1) * p <= 1.0) probs.push_back(p);
    const double rest = 1.0 - static_cast<double>(probs.size()) * p;
    if (rest > 0.0) probs.push_back(rest);
    return probs;
}

inline long double by_outcomes(const std::vector<double>& probs, unsigned n, unsigned x) {
    long double total = 0.0L;
    std::vector<unsigned> counts(probs.size(), 0);
    std::function<void(std::size_t, unsigned)> place = [&](std::size_t i, unsigned left) {
        if (i + 1 == probs.size()) {
            if (left > x) return;
            counts[i] = left;
            long double term = 1.0L;  // N! / prod c! * prod p^c, built factor by factor
            unsigned drawn = 0;
            for (std::size_t v = 0; v < probs.size(); ++v) {
                for (unsigned c = 1; c <= counts[v]; ++c) term *= static_cast<long double>(++drawn) / c * probs[v];
            }
            total += term;
            return;
        }
        for (unsigned c = 0; c <= left && c <= x; ++c) {
            counts[i] = c;
            place(i + 1, left - c);
        }
    };
    place(0, n);
    return total;
}

inline long double by_values(const std::vector<double>& probs, unsigned n, unsigned x) {
    std::vector<long double> log_factorial(n + 1, 0.0L);
    for (unsigned i = 1; i <= n; ++i) log_factorial[i] = log_factorial[i - 1] + std::log(static_cast<long double>(i));
    // after[r]: P(values i.. all at most x | r draws left for them), from the last value back.
    std::vector<long double> after(n + 1, 0.0L);
    for (unsigned r = 0; r <= n && r <= x; ++r) after[r] = 1.0L;
    long double tail = probs.back();
    for (std::size_t i = probs.size() - 1; i-- > 0;) {
        tail += probs[i];
        const long double share = probs[i] / tail;
        const long double log_in = std::log(share), log_out = std::log1p(-share);
        std::vector<long double> now(n + 1, 0.0L);
        for (unsigned r = 0; r <= n; ++r) {
            for (unsigned c = 0; c <= r && c <= x; ++c) {
                const long double log_pmf =
                    log_factorial[r] - log_factorial[c] - log_factorial[r - c] + c * log_in + (r - c) * log_out;
                now[r] += std::exp(log_pmf) * after[r - c];
            }
        }
        after.swap(now);
    }
    return after[n];
}

}  // namespace restart_reference
