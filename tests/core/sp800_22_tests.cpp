// The SP 800-22 tests one by one: the standard's worked examples, and every
// figure against the plain models of reference_sp800_22.hpp on short random
// and structured sequences (all zeros, all ones, alternating, periodic,
// biased, sticky).
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "reference_sp800_22.hpp"
#include "suites.hpp"

#include "sp800_22/excursions.hpp"
#include "sp800_22/frequency_tests.hpp"
#include "sp800_22/linear_complexity.hpp"
#include "sp800_22/longest_run.hpp"
#include "sp800_22/rank.hpp"
#include "sp800_22/serial.hpp"
#include "sp800_22/special_functions.hpp"
#include "sp800_22/templates.hpp"
#include "sp800_22/universal.hpp"

namespace {

namespace s22 = veltrane::sp800_22;
namespace ref = reference_sp800_22;
using ref::Eps;

int passed = 0, failed = 0;

bool near(double a, double b, double tolerance = 1e-9) { return std::fabs(a - b) <= tolerance * std::max(1.0, std::fabs(b)); }
// Agrees with a value the standard prints to six decimals.
bool printed(double ours, double text) { return std::fabs(ours - text) <= 5e-7; }

const std::string PI_100 =
    "1100100100001111110110101010001000100001011010001100001000110100110001001100011001100010100010111000";

// The examples of the standard's sections 2.1 to 2.15.
void check_worked_examples() {
    CHECK(printed(s22::frequency_test(ref::bits_of(ref::eps_of("1011010101"))).p_value, 0.527089));
    CHECK(printed(s22::frequency_test(ref::bits_of(ref::eps_of(PI_100))).p_value, 0.109599));
    const auto bf = s22::block_frequency_test(ref::bits_of(ref::eps_of("0110011010")), 3);
    CHECK(near(bf.chi_square, 1.0) && printed(bf.p_value, 0.801252));
    const auto bf100 = s22::block_frequency_test(ref::bits_of(ref::eps_of(PI_100)), 10);
    CHECK(near(bf100.chi_square, 7.2) && printed(bf100.p_value, 0.706438));
    const auto runs = s22::runs_test(ref::bits_of(ref::eps_of("1001101011")));
    CHECK(runs.runs == 7 && printed(runs.p_value, 0.147232));
    const auto runs100 = s22::runs_test(ref::bits_of(ref::eps_of(PI_100)));
    CHECK(near(runs100.pi, 0.42) && runs100.runs == 52 && printed(runs100.p_value, 0.500798));
    // 2.4.8: the text's p-value, 0.180598, comes from its four-decimal class
    // probabilities; with the exact ones (55/256, 94/256, 59/256, 48/256) it is 0.180609.
    const auto lr = s22::longest_run_test(
        ref::bits_of(ref::eps_of("11001100000101010110110001001100111000000000001001001101010100010001001111010110"
                                 "100000001101011111001100111001101101100010110010")),
        8, false);
    CHECK(lr.counts[0] == 4 && lr.counts[1] == 9 && lr.counts[2] == 3 && lr.counts[3] == 0);
    CHECK(printed(lr.p_value, 0.180609));
    // 2.7.4: template 001 in two blocks of ten bits.
    const auto no = s22::non_overlapping_test(ref::bits_of(ref::eps_of("10100100101110010110")), 3, 2, false);
    CHECK(no.templates.size() == 4 && no.templates[0] == 0b001);
    CHECK(no.counts[0] == 2 && no.counts[1] == 1 && near(no.mean, 1.0) && near(no.variance, 0.46875));
    CHECK(printed(no.chi_squares[0], 2.133333) && printed(no.p_values[0], 0.344154));
    // 2.9.4 (L = 2, Q = 4): the sum and f_n. The text's p-value takes sigma =
    // sqrt(variance) there, against its own formula c sqrt(variance / K).
    const auto u = s22::universal_test(ref::bits_of(ref::eps_of("01011010011101010111")), 2, 4);
    CHECK(u.test_blocks == 6 && printed(u.sum, 7.169925) && near(u.phi, 1.1949875, 1e-7));
    const auto ap = s22::approximate_entropy_test(ref::bits_of(ref::eps_of("0100110101")), 3);
    CHECK(printed(ap.apen, 0.190954) && printed(ap.chi_square, 10.043859) && printed(ap.p_value, 0.261961));
    const auto ap100 = s22::approximate_entropy_test(ref::bits_of(ref::eps_of(PI_100)), 2);
    CHECK(printed(ap100.apen, 0.665393) && printed(ap100.chi_square, 5.550792) && printed(ap100.p_value, 0.235301));
    const auto cs = s22::cumulative_sums_test(ref::bits_of(ref::eps_of("1011010111")));
    CHECK(cs.forward_max == 4 && printed(cs.p_forward, 0.411659));
    const auto cs100 = s22::cumulative_sums_test(ref::bits_of(ref::eps_of(PI_100)));
    CHECK(cs100.forward_max == 16 && cs100.backward_max == 19);
    CHECK(printed(cs100.p_forward, 0.219194) && printed(cs100.p_backward, 0.114866));
    // 2.14.4 and 2.15.4: three cycles (too few to apply). The text prints chi^2 = 4.333033 and
    // p = 0.502529 for state +1, whose counts (1, 1, 0, 1, 0, 0) give 13/3 and 0.502488.
    const auto ex = s22::excursion_tests(ref::bits_of(ref::eps_of("0110110101")), false);
    CHECK(ex.excursions.cycles == 3 && !ex.excursions.applicable && ex.variant.visits[9] == 4);
    const unsigned x1 = 4;  // state +1
    double chi = 0;
    for (unsigned k = 0; k < 6; ++k) {
        const double e = 3 * s22::excursion_probability(1, k);
        chi += (ex.excursions.counts[x1][k] - e) * (ex.excursions.counts[x1][k] - e) / e;
    }
    CHECK(ex.excursions.counts[x1][0] == 1 && ex.excursions.counts[x1][1] == 1 && ex.excursions.counts[x1][3] == 1);
    CHECK(std::fabs(chi - 13.0 / 3) < 1e-12 && printed(s22::igamc(2.5, chi / 2), 0.502488));
    CHECK(printed(std::erfc(std::fabs(4.0 - 3.0) / std::sqrt(2.0 * 3 * (4 * 1 - 2))), 0.683091));
    const auto se = s22::serial_test(ref::bits_of(ref::eps_of("0011011101")), 3);
    CHECK(near(se.psi_m, 2.8) && near(se.psi_m1, 1.2) && near(se.psi_m2, 0.4));
    CHECK(printed(se.p_value1, 0.808792) && printed(se.p_value2, 0.670320));
    CHECK(s22::linear_complexity(ref::bits_of(ref::eps_of("1101011110001")), 0, 13) == 4);
}

// Sequences of every kind the models are run on.
std::vector<Eps> sequences(std::mt19937_64& rng, std::size_t n) {
    std::vector<Eps> out;
    auto make = [&](auto bit) {
        Eps e(n);
        for (std::size_t i = 0; i < n; ++i) e[i] = bit(i);
        out.push_back(e);
    };
    std::uniform_real_distribution<double> u(0, 1);
    make([&](std::size_t) { return static_cast<int>(rng() & 1); });
    make([&](std::size_t) { return static_cast<int>(rng() & 1); });
    make([](std::size_t) { return 0; });
    make([](std::size_t) { return 1; });
    make([](std::size_t i) { return static_cast<int>(i & 1); });
    make([](std::size_t i) { return static_cast<int>((0b0110100110u >> (i % 10)) & 1); });
    make([&](std::size_t) { return static_cast<int>(u(rng) < 0.2); });
    make([&](std::size_t) { return static_cast<int>(u(rng) < 0.75); });
    int sticky = 0;
    make([&](std::size_t) { return sticky = u(rng) < 0.9 ? sticky : 1 - sticky; });
    return out;
}

void check_walk_tests(const Eps& e) {
    const s22::Bits bits = ref::bits_of(e);
    const std::vector<long> s = ref::walk(e);
    const long n = static_cast<long>(e.size());
    CHECK(s22::frequency_test(bits).sum == s.back());
    long high = 0, low = 0, back = 0;
    for (long v : s) high = std::max(high, v), low = std::min(low, v);
    long partial = 0;
    for (long i = n - 1; i >= 0; --i) back = std::max(back, std::labs(partial += e[i] ? 1 : -1));
    const auto cs = s22::cumulative_sums_test(bits);
    CHECK(cs.forward_max == std::max(high, -low) && cs.backward_max == back);
    const auto runs = s22::runs_test(bits);
    const bool prerequisite = std::fabs(ref::count_ones(e, 0, e.size()) / double(n) - 0.5) < 2 / std::sqrt(double(n));
    CHECK(runs.prerequisite == prerequisite && (!prerequisite || runs.runs == static_cast<std::uint64_t>(ref::runs(e))));
    for (std::uint64_t m : {1ull, 3ull, 20ull, 64ull, 100ull}) {
        if (m > e.size()) continue;
        double sum = 0;
        for (std::size_t b = 0; b < e.size() / m; ++b) {
            const double pi = ref::count_ones(e, b * m, (b + 1) * m) / double(m);
            sum += (pi - 0.5) * (pi - 0.5);
        }
        CHECK(near(s22::block_frequency_test(bits, m).chi_square, 4.0 * m * sum));
    }
    const auto ex = s22::excursion_tests(bits, false);
    const auto cycles = ref::cycles(e);
    CHECK(ex.excursions.cycles == cycles.size());
    bool same = true;
    for (unsigned i = 0; i < s22::EXCURSION_STATES; ++i) {
        std::uint64_t counts[6] = {};
        for (const auto& c : cycles) ++counts[std::min<long>(std::count(c.begin(), c.end(), s22::excursion_state(i)), 5)];
        for (unsigned k = 0; k < 6; ++k) same = same && ex.excursions.counts[i][k] == counts[k];
    }
    for (unsigned i = 0; i < s22::VARIANT_STATES; ++i) {
        same = same && ex.variant.visits[i] == static_cast<std::uint64_t>(std::count(s.begin(), s.end(), s22::variant_state(i)));
    }
    CHECK(same);
}

void check_block_tests(const Eps& e) {
    const s22::Bits bits = ref::bits_of(e);
    for (std::uint64_t m : {8ull, 128ull}) {
        if (m > e.size()) continue;
        const auto lr = s22::longest_run_test(bits, m, false);
        std::uint64_t counts[7] = {};
        for (std::size_t b = 0; b < e.size() / m; ++b) {
            const long run = ref::longest_run(e, b * m, (b + 1) * m);
            ++counts[run <= lr.first ? 0 : std::min<long>(run - lr.first, lr.classes - 1)];
        }
        CHECK(std::equal(counts, counts + 7, lr.counts.begin()));
    }
    if (e.size() >= s22::MATRIX_BITS) {
        const auto rank = s22::rank_test(bits);
        std::uint64_t counts[3] = {};
        for (std::size_t k = 0; k < e.size() / s22::MATRIX_BITS; ++k) {
            std::vector<std::vector<int>> a(32, std::vector<int>(32));
            for (int r = 0; r < 32; ++r)
                for (int c = 0; c < 32; ++c) a[r][c] = e[k * 1024 + 32 * r + c];
            const int r = ref::rank(a);
            ++counts[r == 32 ? 0 : r == 31 ? 1 : 2];
        }
        CHECK(std::equal(counts, counts + 3, rank.counts.begin()));
    }
    for (std::uint64_t m : {13ull, 64ull, 65ull, 200ull}) {
        bool same = true;
        for (std::size_t b = 0; b + m <= e.size() && b < 5 * m; b += m) {
            same = same && s22::linear_complexity(bits, b, m) ==
                               static_cast<unsigned>(ref::linear_complexity(Eps(e.begin() + b, e.begin() + b + m)));
        }
        CHECK(same);
        // All blocks at once, one per lane (up to 64, from an odd offset).
        const unsigned count = static_cast<unsigned>(std::min<std::size_t>(64, (e.size() - 1) / m));
        if (count == 0) continue;
        unsigned found[64];
        s22::linear_complexities(bits, 1, m, count, found);
        for (unsigned b = 0; b < count; ++b) {
            same = same && found[b] == static_cast<unsigned>(ref::linear_complexity(
                                           Eps(e.begin() + 1 + b * m, e.begin() + 1 + (b + 1) * m)));
        }
        CHECK(same);
    }
}

void check_pattern_tests(const Eps& e) {
    const s22::Bits bits = ref::bits_of(e);
    for (unsigned m : {2u, 3u, 5u}) {
        for (unsigned blocks : {1u, 3u}) {
            if (e.size() / blocks < m) continue;
            const auto f = s22::non_overlapping_test(bits, m, blocks, false);
            bool same = true;
            for (std::size_t t = 0; t < f.templates.size(); ++t) {
                Eps b(m);
                for (unsigned j = 0; j < m; ++j) b[j] = (f.templates[t] >> (m - 1 - j)) & 1;
                for (unsigned k = 0; k < blocks; ++k) {
                    same = same && f.counts[t * blocks + k] ==
                                       ref::non_overlapping_count(e, b, k * f.block_length, (k + 1) * f.block_length);
                }
            }
            CHECK(same);
        }
    }
    for (unsigned m : {2u, 9u}) {
        const std::uint64_t block = m == 2 ? 10 : 100;
        if (e.size() < block) continue;
        const auto f = s22::overlapping_test(bits, m, block, false);
        std::uint64_t counts[6] = {};
        for (std::size_t k = 0; k < e.size() / block; ++k) ++counts[std::min<long>(ref::overlapping_ones(e, m, k * block, (k + 1) * block), 5)];
        CHECK(std::equal(counts, counts + 6, f.counts.begin()));
    }
    for (int m : {1, 2, 3, 5}) {
        // Windows longer than the sequence go round it more than once (a fuzz target found them wrong).
        const auto se = s22::serial_test(bits, m + 1);
        CHECK(near(se.psi_m, ref::psi_squared(e, m + 1)) && near(se.psi_m1, ref::psi_squared(e, m)) &&
              near(se.psi_m2, ref::psi_squared(e, m - 1)));
        const auto ap = s22::approximate_entropy_test(bits, m);
        CHECK(near(ap.phi_m, ref::apen_phi(e, m)) && near(ap.phi_m1, ref::apen_phi(e, m + 1)));
    }
    for (unsigned l : {2u, 3u, 6u}) {
        const std::uint64_t q = 10u << l;
        if (e.size() / l <= q) continue;
        const auto u = s22::universal_test(bits, l, q);
        CHECK(near(u.sum, ref::universal_sum(e, l, q, u.test_blocks), 1e-12));
    }
}

// Templates: aperiodic exactly when no shift of fewer than m bits overlaps;
// the counts of the standard's nine-bit list.
void check_templates() {
    for (unsigned m = 2; m <= 12; ++m) {
        std::size_t aperiodic = 0;
        bool same = true;
        for (std::uint32_t b = 0; b < (1u << m); ++b) {
            Eps word(m);
            for (unsigned j = 0; j < m; ++j) word[j] = (b >> (m - 1 - j)) & 1;
            same = same && s22::periodic(b, m) == ref::self_overlapping(word);
            aperiodic += !ref::self_overlapping(word);
        }
        CHECK(same && s22::aperiodic_templates(m, false).size() == aperiodic);
    }
    CHECK(s22::aperiodic_templates(9, false).size() == 148 && s22::aperiodic_templates(10, false).size() == 284);
    CHECK(s22::aperiodic_templates(10, true).size() == s22::PROGRAM_TEMPLATE_LIMIT);
}

}  // namespace

int run_sp800_22_tests(bool long_form) {
    passed = failed = 0;
    check_worked_examples();
    check_templates();
    std::mt19937_64 rng(22);
    const std::vector<std::size_t> lengths =
        long_form ? std::vector<std::size_t>{1, 2, 3, 5, 7, 64, 100, 257, 1024, 2048, 5000, 20000}
                  : std::vector<std::size_t>{1, 3, 7, 100, 257, 2048, 5000};
    for (std::size_t n : lengths) {
        for (const Eps& e : sequences(rng, n)) {
            check_walk_tests(e);
            check_block_tests(e);
            check_pattern_tests(e);
        }
    }
    std::printf("sp800_22 tests: %d passed, %d failed\n", passed, failed);
    return failed;
}
