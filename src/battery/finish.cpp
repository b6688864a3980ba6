#include "battery/finish.hpp"

#include <bit>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>

#include "battery/bit_entropy.hpp"
#include "battery/chi_square.hpp"
#include "min_entropy/min_entropy.hpp"
#include "shannon_entropy/func.hpp"
#include "shannon_entropy/measures.hpp"

namespace veltrane::battery {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// The integer sums of the symbols u: S = sum u, S2 = sum u^2, S1 = sum of
// u[i] u[i+1] including the last-to-first pair.
struct Sums {
    UInt128 s = 0, s2 = 0, s1 = 0;
};

Sums byte_sums(const State& st) {
    Sums sums;
    for (std::uint64_t v = 0; v < 256; ++v) {
        sums.s += UInt128{st.histogram[v]} * v;
        sums.s2 += UInt128{st.histogram[v]} * (v * v);
    }
    sums.s1 = st.adjacent_products + UInt128{st.last} * st.first;
    return sums;
}

Sums bit_sums(const State& st) {
    Sums sums;
    UInt128 inner_pairs = 0;
    for (unsigned v = 0; v < 256; ++v) {
        sums.s += UInt128{st.histogram[v]} * static_cast<unsigned>(std::popcount(v));
        inner_pairs += UInt128{st.histogram[v]} * static_cast<unsigned>(std::popcount(v & (v >> 1)));
    }
    sums.s2 = sums.s;  // u^2 = u for bits
    sums.s1 = inner_pairs + st.seam_bit_pairs + ((st.last & (st.first >> 7)) & 1u);
    return sums;
}

double ent_entropy(const std::vector<std::uint64_t>& counts, double n) {
    double h = 0.0;
    for (std::uint64_t c : counts) {
        const double p = static_cast<double>(c) / n;
        if (p > 0.0) h += p * std::log2(1.0 / p);
    }
    return h;
}

double mcv_min_entropy(std::uint64_t most, std::uint64_t n) {
    const double p = static_cast<double>(most) / static_cast<double>(n);
    double upper = 1.0;
    if (n > 1) {
        const double spread = std::sqrt(p * (1.0 - p) / static_cast<double>(n - 1));
        upper = p + MCV_Z * spread;
        if (upper > 1.0) upper = 1.0;
    }
    return -std::log2(upper);
}

}  // namespace

Result finish(const State& st, bool bits) {
    if (st.start != 0) {
        throw std::invalid_argument("this battery state is a piece starting at offset " + std::to_string(st.start) +
                                    ": merge it with the pieces before it, from offset 0, before finishing");
    }
    if (bits && st.size > (std::numeric_limits<std::uint64_t>::max() >> 3)) {
        throw std::invalid_argument("an input of 2^61 bytes or more has too many bits to count");
    }
    Result r;
    r.bits = bits;
    r.size = bits ? st.size * 8 : st.size;
    const std::size_t bins = bits ? 2 : 256;
    r.chi_square_df = static_cast<unsigned>(bins - 1);
    const Sums sums = bits ? bit_sums(st) : byte_sums(st);
    if (bits) {
        const std::uint64_t ones = static_cast<std::uint64_t>(sums.s);
        r.histogram = {r.size - ones, ones};
    } else {
        r.histogram.assign(st.histogram.begin(), st.histogram.end());
    }
    r.monte_carlo_groups = st.mc_groups;
    r.monte_carlo_hits = st.mc_hits;

    const std::uint64_t n = r.size;
    const double nd = static_cast<double>(n);
    const double width = bits ? 1.0 : 8.0;
    r.ent.entropy = ent_entropy(r.histogram, nd);
    r.ent.compression_percent = static_cast<int>(100.0 * (width - r.ent.entropy) / width);

    // ent's chi-square, mean and serial correlation, in its order of operations.
    const double expected = nd / static_cast<double>(bins);
    double chi = 0.0;
    for (std::uint64_t c : r.histogram) {
        const double a = static_cast<double>(c) - expected;
        chi = chi + (a * a) / expected;
    }
    r.ent.chi_square_p = ent_chi_square_survival(r.chi_square_df, chi);
    const double t1 = static_cast<double>(sums.s1);
    const double t2 = static_cast<double>(sums.s) * static_cast<double>(sums.s);
    const double t3 = nd * static_cast<double>(sums.s2) - t2;
    r.ent.serial_correlation_undefined = t3 == 0.0;

    if (n == 0) {
        // Nothing has no uncertainty: the four entropy measures give +0.0, as the
        // module's own functions do for empty data; the statistics are undefined.
        r.min_entropy_mcv = NaN;
        r.chi_square = r.chi_square_p = r.mean = r.serial_correlation = r.compression_percent = NaN;
        r.monte_carlo_pi = r.monte_carlo_error_percent = NaN;
        return r;
    }
    const std::uint64_t* counts = r.histogram.data();
    r.shannon_entropy = shannon_entropy::entropy_of_counts(counts, bins, n);
    if (bits) {
        r.metric_entropy = r.shannon_entropy;
        const double q = r.shannon_entropy / expected_random_bit_entropy(n);
        r.normalized_entropy = q < 1.0 ? q : 1.0;
    } else {
        r.metric_entropy = r.shannon_entropy * 0.125;
        r.normalized_entropy = shannon_entropy::normalize_entropy(r.shannon_entropy, n);
    }
    r.min_entropy = min_entropy::min_entropy_of_counts(counts, bins, n);
    std::uint64_t most = 0;
    std::size_t filled = 0;
    for (std::uint64_t c : r.histogram) {
        most = c > most ? c : most;
        filled += c != 0 ? 1 : 0;
    }
    r.min_entropy_mcv = mcv_min_entropy(most, n);
    r.compression_percent = 100.0 * (width - r.shannon_entropy) / width;

    r.chi_square = chi;
    r.chi_square_p = chi_square_survival(r.chi_square_df, chi);
    r.mean = static_cast<double>(sums.s) / nd;
    // Constant data has no correlation; beyond 2^53 ent's rounded sums can make
    // its denominator vanish for data that is not constant, and then there is
    // no value either.
    const bool constant = filled <= 1;
    r.serial_correlation = constant || t3 == 0.0 ? NaN : (nd * t1 - t2) / t3;
    if (st.mc_groups == 0) {
        r.monte_carlo_pi = r.monte_carlo_error_percent = NaN;
    } else {
        constexpr double PI = std::numbers::pi;
        r.monte_carlo_pi = 4.0 * (static_cast<double>(st.mc_hits) / static_cast<double>(st.mc_groups));
        r.monte_carlo_error_percent = 100.0 * (std::fabs(PI - r.monte_carlo_pi) / PI);
    }
    return r;
}

Result measure(const std::uint8_t* data, std::size_t n, bool bits, bool case_fold) {
    PassOptions options;
    options.case_fold = case_fold;
    return finish(measure_state(data, n, options), bits);
}

}  // namespace veltrane::battery
