#include "sp800_22/templates.hpp"

#include <algorithm>
#include <cmath>

#include "pool/cancel.hpp"
#include "sp800_22/special_functions.hpp"
#include "util/popcount.hpp"

namespace veltrane::sp800_22 {

namespace {

constexpr unsigned OVERLAP_CLASSES = 6;  // 0, 1, 2, 3, 4, 5 or more occurrences

// Counts the m-bit windows of each block, windows wholly inside their block.
std::vector<std::uint32_t> window_counts(const Bits& bits, unsigned m, std::uint64_t blocks,
                                         std::uint64_t block_length) {
    const std::size_t values = std::size_t{1} << m;
    std::vector<std::uint32_t> counts(blocks * values, 0);
    const std::uint64_t mask = values - 1;
    const unsigned per_read = 64 - m + 1;
    if (block_length < m) return counts;  // no window fits
    for (std::uint64_t b = 0; b < blocks; ++b) {
        std::uint32_t* hist = counts.data() + b * values;
        const std::uint64_t last = b * block_length + block_length - m;  // the last window's start
        for (std::uint64_t at = b * block_length; at <= last; at += per_read) {
            if ((at & 0xFFFF) < per_read) pool::checkpoint();
            const std::uint64_t w = bits.window(at);
            const unsigned here = static_cast<unsigned>(std::min<std::uint64_t>(per_read, last - at + 1));
            for (unsigned t = 0; t < here; ++t) ++hist[(w >> (64 - m - t)) & mask];
        }
    }
    return counts;
}

// Bit j (from the most significant) set where bits j..j+m-1 of w are all ones; valid for j <= 64 - m.
std::uint64_t runs_of_ones(std::uint64_t w, unsigned m) {
    std::uint64_t t = w;
    for (unsigned len = 1; len < m;) {
        const unsigned step = std::min(len, m - len);
        t &= t << step;
        len += step;
    }
    return t;
}

// The first revision's compound Poisson approximation, eta = lambda / 2:
// P(0) = e^-eta, P(u) = e^-eta 2^-u sum_{l=1}^{u} C(u-1, l-1) eta^l / l!.
double approximate_probability(unsigned u, double eta) {
    if (u == 0) return std::exp(-eta);
    double sum = 0.0, binomial = 1.0, power = 1.0, factorial = 1.0;
    for (unsigned l = 1; l <= u; ++l) {
        if (l > 1) binomial = binomial * (u - l + 1) / (l - 1);
        power *= eta;
        factorial *= l;
        sum += binomial * power / factorial;
    }
    return std::exp(-eta) * std::ldexp(sum, -static_cast<int>(u));
}

}  // namespace

bool periodic(std::uint32_t bits, unsigned m) {
    for (unsigned shift = 1; shift < m; ++shift) {
        const unsigned len = m - shift;
        const std::uint32_t mask = (std::uint32_t{1} << len) - 1;
        if ((bits >> shift) == (bits & mask)) return true;
    }
    return false;
}

std::vector<std::uint32_t> aperiodic_templates(unsigned m, bool compatible) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t b = 0; b < (std::uint32_t{1} << m); ++b) {
        if (!periodic(b, m)) out.push_back(b);
        if (compatible && out.size() == PROGRAM_TEMPLATE_LIMIT) break;
    }
    return out;
}

NonOverlappingFigures non_overlapping_test(const Bits& bits, unsigned m, unsigned blocks, bool compatible) {
    NonOverlappingFigures f;
    f.template_length = m;
    f.blocks = blocks;
    f.block_length = bits.size() / blocks;
    f.templates = aperiodic_templates(m, compatible);
    const double two_m = std::ldexp(1.0, static_cast<int>(m));
    f.mean = static_cast<double>(f.block_length - m + 1) / two_m;
    f.variance = static_cast<double>(f.block_length) * (1.0 / two_m - (2.0 * m - 1.0) / (two_m * two_m));
    // An aperiodic template cannot occur twice less than m bits apart, so
    // scanning with a jump of m after each match finds every occurrence:
    // its count is the count of its window.
    const std::vector<std::uint32_t> windows = window_counts(bits, m, blocks, f.block_length);
    const std::size_t values = std::size_t{1} << m;
    f.counts.resize(f.templates.size() * blocks);
    for (std::size_t t = 0; t < f.templates.size(); ++t) {
        double chi = 0.0;
        for (unsigned b = 0; b < blocks; ++b) {
            const std::uint32_t w = windows[b * values + f.templates[t]];
            f.counts[t * blocks + b] = w;
            chi += (w - f.mean) * (w - f.mean) / f.variance;
        }
        f.chi_squares.push_back(chi);
        f.p_values.push_back(igamc(blocks / 2.0, chi / 2.0));
    }
    return f;
}

std::array<double, 6> overlapping_probabilities(unsigned m, std::uint64_t block_length, bool compatible) {
    std::array<double, 6> p{};
    if (compatible) {
        const double eta = static_cast<double>(block_length - m + 1) / std::ldexp(1.0, static_cast<int>(m)) / 2.0;
        double sum = 0.0;
        for (unsigned u = 0; u + 1 < OVERLAP_CLASSES; ++u) sum += p[u] = approximate_probability(u, eta);
        p[OVERLAP_CLASSES - 1] = 1.0 - sum;
        return p;
    }
    // Exactly: the chance of each (run of ones so far, capped at m; occurrences,
    // capped at 5) after every bit of the block.
    const unsigned cap = OVERLAP_CLASSES - 1;
    std::vector<double> state((m + 1) * OVERLAP_CLASSES, 0.0), next(state.size());
    auto at = [&](unsigned run, unsigned count) { return run * OVERLAP_CLASSES + count; };
    state[at(0, 0)] = 1.0;
    for (std::uint64_t step = 0; step < block_length; ++step) {
        std::fill(next.begin(), next.end(), 0.0);
        for (unsigned run = 0; run <= m; ++run) {
            for (unsigned count = 0; count <= cap; ++count) {
                const double here = state[at(run, count)] * 0.5;
                if (here == 0.0) continue;
                next[at(0, count)] += here;
                const unsigned longer = std::min(run + 1, m);
                next[at(longer, longer == m ? std::min(count + 1, cap) : count)] += here;
            }
        }
        state.swap(next);
    }
    for (unsigned run = 0; run <= m; ++run) {
        for (unsigned count = 0; count <= cap; ++count) p[count] += state[at(run, count)];
    }
    return p;
}

OverlappingFigures overlapping_test(const Bits& bits, unsigned m, std::uint64_t block_length, bool compatible) {
    OverlappingFigures f;
    f.template_length = m;
    f.block_length = block_length;
    f.blocks = bits.size() / block_length;
    f.lambda = static_cast<double>(block_length - m + 1) / std::ldexp(1.0, static_cast<int>(m));
    f.eta = f.lambda / 2.0;
    f.probabilities = overlapping_probabilities(m, block_length, compatible);
    const unsigned per_read = 64 - m + 1;
    for (std::uint64_t b = 0; b < f.blocks && block_length >= m; ++b) {
        if ((b & 0xFF) == 0) pool::checkpoint();
        std::uint64_t count = 0;
        const std::uint64_t last = b * block_length + block_length - m;
        for (std::uint64_t at = b * block_length; at <= last; at += per_read) {
            const unsigned here = static_cast<unsigned>(std::min<std::uint64_t>(per_read, last - at + 1));
            count += util::popcount64(runs_of_ones(bits.window(at), m) & (~std::uint64_t{0} << (64 - here)));
        }
        ++f.counts[std::min<std::uint64_t>(count, OVERLAP_CLASSES - 1)];
    }
    const auto blocks = static_cast<double>(f.blocks);
    for (unsigned i = 0; i < OVERLAP_CLASSES; ++i) {
        const double expected = blocks * f.probabilities[i];
        const double gap = static_cast<double>(f.counts[i]) - expected;
        f.chi_square += gap * gap / expected;
    }
    f.p_value = igamc((OVERLAP_CLASSES - 1) / 2.0, f.chi_square / 2.0);
    return f;
}

}  // namespace veltrane::sp800_22
