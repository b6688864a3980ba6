#include "sp800_90b_iid/chi_square_tests.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

#include "battery/chi_square.hpp"
#include "pool/cancel.hpp"
#include "sp800_90b_iid/proportions.hpp"

namespace veltrane::sp800_90b::iid {

namespace {

double square(double x) { return x * x; }

ChiSquare verdict(double statistic, std::int64_t df) {
    ChiSquare c;
    c.statistic = statistic;
    c.df = df;
    if (df < 1 || !std::isfinite(statistic)) {
        c.p_value = std::numeric_limits<double>::quiet_NaN();
        return c;
    }
    c.p_value = battery::chi_square_survival(static_cast<unsigned>(df), statistic);
    c.passed = c.p_value >= CHI_SQUARE_CUTOFF;
    return c;
}

// Items taken in order into bins until each bin expects at least 5; a short
// remainder joins the last bin. Returns each item's bin and each bin's expectation.
struct Bins {
    std::vector<unsigned> of;  // item -> bin
    std::vector<double> expected;
};
template <class Item>
Bins bin_by_expectation(const std::vector<Item>& sorted, std::size_t items) {
    Bins b;
    b.of.assign(items, 0);
    double open = 0.0;
    std::vector<std::size_t> members;
    for (const Item& item : sorted) {
        open += std::get<0>(item);
        members.push_back(std::get<1>(item));
        if (open >= 5.0) {
            for (std::size_t m : members) b.of[m] = static_cast<unsigned>(b.expected.size());
            b.expected.push_back(open);
            open = 0.0;
            members.clear();
        }
    }
    if (!members.empty()) {
        if (b.expected.empty()) b.expected.push_back(0.0);
        for (std::size_t m : members) b.of[m] = static_cast<unsigned>(b.expected.size() - 1);
        b.expected.back() += open;
    }
    return b;
}

ChiSquare independence(const SampleFacts& f, const std::uint8_t* raw, const std::vector<double>& p) {
    const unsigned k = f.alphabet.k;
    const std::size_t half = f.n / 2;
    std::vector<std::uint64_t> observed(static_cast<std::size_t>(k) * k, 0);
    for (std::size_t a = 0; a < half; ++a) {
        if ((a & 0xFFFF) == 0) pool::checkpoint();
        ++observed[f.alphabet.rank[raw[2 * a]] * k + f.alphabet.rank[raw[2 * a + 1]]];
    }
    // (expected, pair index): the index i * k + j orders ties by i, then j.
    std::vector<std::tuple<double, std::size_t>> pairs;
    pairs.reserve(observed.size());
    for (unsigned i = 0; i < k; ++i) {
        for (unsigned j = 0; j < k; ++j) pairs.emplace_back(p[i] * p[j] * static_cast<double>(half), i * k + j);
    }
    std::sort(pairs.begin(), pairs.end());
    const Bins bins = bin_by_expectation(pairs, pairs.size());
    std::vector<double> seen(bins.expected.size(), 0.0);
    for (std::size_t pair = 0; pair < observed.size(); ++pair) seen[bins.of[pair]] += static_cast<double>(observed[pair]);
    double t = 0.0;
    for (std::size_t b = 0; b < seen.size(); ++b) t += square(seen[b] - bins.expected[b]) / bins.expected[b];
    return verdict(t, static_cast<std::int64_t>(bins.expected.size()) - k);
}

constexpr std::size_t PARTS = 10;

ChiSquare goodness_of_fit(const SampleFacts& f, const std::uint8_t* raw, const std::vector<double>& p) {
    const unsigned k = f.alphabet.k;
    const std::size_t part = f.n / PARTS;
    std::vector<std::tuple<double, std::size_t>> values;
    for (unsigned r = 0; r < k; ++r) values.emplace_back(p[r] * static_cast<double>(part), r);
    std::sort(values.begin(), values.end());
    const Bins bins = bin_by_expectation(values, k);
    if (part == 0 || bins.expected.size() < 2) return verdict(0.0, 0);
    double t = 0.0;
    std::vector<std::uint64_t> seen(bins.expected.size());
    for (std::size_t d = 0; d < PARTS; ++d) {
        std::fill(seen.begin(), seen.end(), 0);
        for (std::size_t i = d * part; i < (d + 1) * part; ++i) ++seen[bins.of[f.alphabet.rank[raw[i]]]];
        double in_part = 0.0;
        for (std::size_t b = 0; b < seen.size(); ++b) {
            in_part += square(static_cast<double>(seen[b]) - bins.expected[b]) / bins.expected[b];
        }
        t += in_part;
    }
    return verdict(t, 9 * (static_cast<std::int64_t>(bins.expected.size()) - 1));
}

ChiSquare binary_independence(const SampleFacts& f, const std::uint8_t* raw, double p0, double p1) {
    constexpr unsigned LONGEST_TUPLE = 11;
    unsigned m = LONGEST_TUPLE;
    while (m > 1 && std::pow(std::min(p0, p1), m) * static_cast<double>(f.n / m) < 5.0) --m;
    if (m < 2) return verdict(0.0, 0);
    const std::size_t tuples = f.n / m;
    std::vector<std::uint64_t> observed(std::size_t{1} << m, 0);
    const std::uint8_t one = f.alphabet.value[1];
    for (std::size_t t = 0; t < tuples; ++t) {
        unsigned v = 0;
        for (unsigned b = 0; b < m; ++b) v = (v << 1) | (raw[t * m + b] == one);
        ++observed[v];
    }
    double stat = 0.0;
    for (std::size_t v = 0; v < observed.size(); ++v) {
        const int w = __builtin_popcountll(v);
        const double e = std::pow(p1, w) * std::pow(p0, static_cast<int>(m) - w) * static_cast<double>(tuples);
        stat += square(static_cast<double>(observed[v]) - e) / e;
    }
    return verdict(stat, (std::int64_t{1} << m) - 2);
}

ChiSquare binary_goodness_of_fit(const SampleFacts& f, const std::uint8_t* raw, double p0, double p1) {
    const std::size_t part = f.n / PARTS;
    if (part == 0) return verdict(0.0, 0);
    const double e0 = p0 * static_cast<double>(part), e1 = p1 * static_cast<double>(part);
    const std::uint8_t one = f.alphabet.value[1];
    double stat = 0.0;
    for (std::size_t d = 0; d < PARTS; ++d) {
        std::uint64_t ones = 0;
        for (std::size_t i = d * part; i < (d + 1) * part; ++i) ones += raw[i] == one;
        const double o1 = static_cast<double>(ones), o0 = static_cast<double>(part - ones);
        stat += square(o0 - e0) / e0 + square(o1 - e1) / e1;
    }
    return verdict(stat, 9);
}

}  // namespace

ChiSquareTests chi_square_tests(const SampleFacts& facts, const std::uint8_t* raw) {
    const std::vector<std::uint64_t> counts = rank_counts(facts, raw);
    ChiSquareTests t;
    if (facts.alphabet.binary()) {
        const double n = static_cast<double>(facts.n);
        const double p0 = static_cast<double>(counts[0]) / n, p1 = static_cast<double>(counts[1]) / n;
        t.independence = binary_independence(facts, raw, p0, p1);
        t.goodness_of_fit = binary_goodness_of_fit(facts, raw, p0, p1);
        return t;
    }
    const std::vector<double> p = added_proportions(counts, facts.n);
    t.independence = independence(facts, raw, p);
    t.goodness_of_fit = goodness_of_fit(facts, raw, p);
    return t;
}

}  // namespace veltrane::sp800_90b::iid
