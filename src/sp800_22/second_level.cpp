#include "sp800_22/second_level.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "sp800_22/catalogue.hpp"
#include "sp800_22/special_functions.hpp"

namespace veltrane::sp800_22 {

namespace {

// A p-value as NIST's program reads it back from its results.txt.
double printed(double p) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", p);
    return std::strtod(text, nullptr);
}

}  // namespace

SeriesSummary summarise(const double* p_values, std::size_t count, bool compatible) {
    SeriesSummary s;
    s.sequences = count;
    if (count == 0) return s;
    for (std::size_t i = 0; i < count; ++i) {
        const double p = compatible ? printed(p_values[i]) : p_values[i];
        const auto bin = static_cast<std::size_t>(p * 10.0);
        ++s.bins[bin < 10 ? bin : 9];
        s.passed += p >= ALPHA;
    }
    const double m = static_cast<double>(count), p_hat = 1.0 - ALPHA;
    const double spread = 3.0 * std::sqrt(p_hat * ALPHA / m);
    s.low = p_hat - spread;
    s.high = p_hat + spread;
    s.least = static_cast<std::uint64_t>(s.low * m);
    s.most = static_cast<std::uint64_t>(s.high * m);
    const double proportion = static_cast<double>(s.passed) / m;
    s.proportion_passed = compatible ? s.passed >= s.least && s.passed <= s.most
                                     : proportion >= s.low && proportion <= s.high;
    const double expected = compatible ? static_cast<double>(count / 10) : m / 10.0;
    const bool computed = compatible ? count >= 10 : count >= UNIFORMITY_LEAST_SEQUENCES;
    if (computed) {
        double chi = 0.0;
        for (std::uint64_t f : s.bins) chi += (static_cast<double>(f) - expected) * (static_cast<double>(f) - expected) / expected;
        s.uniformity = igamc(9.0 / 2.0, chi / 2.0);
        s.uniformity_passed = *s.uniformity >= UNIFORMITY_ALPHA;
    }
    return s;
}

}  // namespace veltrane::sp800_22
