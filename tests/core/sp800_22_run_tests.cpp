// SP 800-22 around the tests: the class probabilities against counting or
// independent recurrences, the incomplete gamma function against closed
// forms, the transforms against direct sums, the run over many sequences
// against one sequence at a time (raw bytes at any bit offset and ASCII
// text), the second level on series whose counts are known, and the
// parameter limits.
#include <cmath>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "check.hpp"
#include "reference_sp800_22.hpp"
#include "suites.hpp"

#include "sp800_22/battery.hpp"
#include "sp800_22/fft.hpp"
#include "sp800_22/longest_run.hpp"
#include "sp800_22/plan.hpp"
#include "sp800_22/rank.hpp"
#include "sp800_22/second_level.hpp"
#include "sp800_22/special_functions.hpp"
#include "sp800_22/templates.hpp"

namespace {

namespace s22 = veltrane::sp800_22;
namespace ref = reference_sp800_22;

int passed = 0, failed = 0;

bool near(double a, double b, double tolerance) { return std::fabs(a - b) <= tolerance * std::max(1e-300, std::fabs(b)); }

void check_probabilities() {
    // Longest runs: P(longest <= k) in m bits from the k-bonacci count of the
    // strings with no k+1 ones in a row, against the classes' differences.
    for (std::uint64_t m : {8ull, 128ull, 10000ull}) {
        const auto lr = s22::longest_run_test(s22::Bits(m), m, false);
        auto at_most = [&](unsigned k) {
            std::vector<long double> share(m + 1);  // P(a string of i bits has no k+1 ones in a row)
            for (std::size_t i = 0; i <= m; ++i) {
                if (i <= k) {
                    share[i] = 1.0L;
                } else {
                    long double sum = 0, half = 1.0L;
                    for (std::size_t j = 1; j <= k + 1; ++j) sum += (half /= 2) * share[i - j];
                    share[i] = sum;
                }
            }
            return share[m];
        };
        long double below = 0;
        bool same = true;
        for (unsigned i = 0; i + 1 < lr.classes; ++i) {
            const long double upto = at_most(lr.first + i);
            same = same && near(lr.probabilities[i], static_cast<double>(upto - below), 1e-10);
            below = upto;
        }
        CHECK(same && near(lr.probabilities[lr.classes - 1], static_cast<double>(1 - below), 1e-9));
    }
    CHECK(s22::longest_run_test(s22::Bits(8), 8, false).probabilities[0] == 55.0 / 256);
    // Overlapping occurrences: exactly, against every block of 16 bits counted.
    for (unsigned m : {2u, 3u, 5u}) {
        const auto p = s22::overlapping_probabilities(m, 16, false);
        double counted[6] = {};
        for (std::uint32_t v = 0; v < (1u << 16); ++v) {
            ref::Eps e(16);
            for (int j = 0; j < 16; ++j) e[j] = (v >> j) & 1;
            counted[std::min<long>(ref::overlapping_ones(e, m, 0, 16), 5)] += 1.0 / 65536;
        }
        bool same = true;
        for (int i = 0; i < 6; ++i) same = same && near(p[i], counted[i], 1e-12);
        CHECK(same);
    }
    // The standard's corrected values for M = 1032, m = 9, and the first revision's approximation.
    const auto exact = s22::overlapping_probabilities(9, 1032, false);
    const double corrected[] = {0.364091, 0.185659, 0.139381, 0.100571, 0.070432, 0.139865};
    const double first[] = {0.367879, 0.183940, 0.137955, 0.099634, 0.069935, 0.140657};
    const auto approximate = s22::overlapping_probabilities(9, 1032, true);
    bool same = true;
    for (int i = 0; i < 6; ++i) same = same && std::fabs(exact[i] - corrected[i]) < 5e-7 && std::fabs(approximate[i] - first[i]) < 5e-7;
    CHECK(same);
    // Ranks: the three classes of 32 x 32 matrices, as NIST's program prints them.
    CHECK(std::fabs(s22::rank_probability(32) - 0.288788) < 5e-7 && std::fabs(s22::rank_probability(31) - 0.577576) < 5e-7);
    long double product = 1;  // P(full rank) = prod_{i=1}^{32} (1 - 2^-i)
    for (int i = 1; i <= 32; ++i) product *= 1 - std::ldexp(1.0L, -i);
    CHECK(near(s22::rank_probability(32), static_cast<double>(product), 1e-13));
}

// Q(a, x) against its closed forms: e^-x sum_{j<a} x^j / j! for whole a, erfc
// and a finite sum for half-whole a (both in long double, term by term).
void check_incomplete_gamma() {
    bool same = true;
    for (double a : {0.5, 1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 4.5, 8.0, 64.0, 256.0, 1024.0, 8192.0, 16384.0}) {
        for (double scale : {0.01, 0.3, 0.9, 1.0, 1.1, 2.0, 5.0}) {
            const long double x = a * scale + (scale < 0.05 ? 0.5 : 0);
            // The terms x^j / j! (or x^(j+1/2) / Gamma(j + 3/2)) in logarithms: they outgrow long double at large a.
            const bool whole = a == std::floor(a);
            long double log_term = whole ? 0.0L : std::log(std::sqrt(x) / std::tgamma(1.5L));
            long double q = whole ? 0.0L : std::erfc(std::sqrt(x));
            for (int j = 0; j + (whole ? 0.0 : 0.5) < a; ++j) {
                q += std::exp(log_term - x);
                log_term += std::log(x) - std::log(j + (whole ? 1.0L : 1.5L));
            }
            const double ours = s22::igamc(a, static_cast<double>(x));
            const bool agree = (q < 1e-300L ? ours < 1e-290 : near(ours, static_cast<double>(q), 1e-9)) &&
                               near(ours + s22::igam(a, static_cast<double>(x)), 1.0, 1e-10);
            if (!agree) std::fprintf(stderr, "Q(%g, %Lg): %.17g, closed form %.17Lg\n", a, x, ours, q);
            same = same && agree;
        }
    }
    CHECK(same);
    CHECK(s22::igamc(2.0, 0.0) == 1.0 && s22::igamc(0.0, 1.0) == 1.0 && s22::igam(2.0, -1.0) == 0.0);
}

void check_transforms(std::mt19937_64& rng) {
    std::vector<std::size_t> lengths;
    for (std::size_t n = 1; n <= 70; ++n) lengths.push_back(n);
    for (std::size_t n : {97, 127, 243, 1000, 1009, 1024, 1155, 1331, 1998}) lengths.push_back(n);
    for (std::size_t n : lengths) {
        std::vector<double> x(n);
        for (double& v : x) v = rng() & 1 ? 1.0 : -1.0;
        const std::vector<double> model = ref::dft_moduli(x);
        std::vector<double> ours(n / 2);
        s22::RealSpectrum(n).moduli([&](std::size_t j) { return x[j]; }, ours.data());
        bool same = true;
        for (std::size_t j = 0; j < n / 2; ++j) same = same && std::fabs(ours[j] - model[j]) < 1e-9 * std::sqrt(double(n)) + 1e-12;
        if (!same) std::fprintf(stderr, "transform of %zu values differs\n", n);
        CHECK(same);
    }
}

std::vector<std::uint8_t> random_bytes(std::mt19937_64& rng, std::size_t n) {
    std::vector<std::uint8_t> out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

bool same_figures(const s22::SequenceFigures& a, const s22::SequenceFigures& b) {
    return a.ones == b.ones && a.frequency->sum == b.frequency->sum && a.dft->below == b.dft->below &&
           a.dft->p_value == b.dft->p_value && a.linear_complexity->counts == b.linear_complexity->counts &&
           a.non_overlapping_template->counts == b.non_overlapping_template->counts &&
           a.serial->psi_m == b.serial->psi_m && a.approximate_entropy->phi_m1 == b.approximate_entropy->phi_m1 &&
           a.random_excursions_variant->visits == b.random_excursions_variant->visits &&
           a.universal->sum == b.universal->sum && a.rank->counts == b.rank->counts &&
           a.cumulative_sums->backward_max == b.cumulative_sums->backward_max &&
           a.longest_run->counts == b.longest_run->counts && a.overlapping_template->counts == b.overlapping_template->counts;
}

// Many sequences at once against each alone; raw bytes at bit offsets, and the same bits as text.
void check_runs(std::mt19937_64& rng) {
    s22::Parameters p;
    p.universal_block_length = 6;
    p.linear_complexity_block_length = 500;
    for (std::uint64_t n : {10001ull, 8192ull}) {
        const s22::Plan plan = s22::plan_run(n, s22::ALL_TESTS, true, p, false);
        CHECK(plan.tests == s22::ALL_TESTS);
        const std::uint64_t count = 5;
        const std::vector<std::uint8_t> data = random_bytes(rng, (count * n + 7) / 8);
        std::uint64_t position = 0;
        const auto many = s22::run_sequences(plan, {data.data(), data.size(), false}, position, count);
        CHECK(position == count * n);
        std::string text;
        for (std::uint64_t i = 0; i < count * n; ++i) {
            text += static_cast<char>('0' + ((data[i / 8] >> (7 - i % 8)) & 1));
            if (i % 61 == 60) text += i % 2 ? "\r\n" : " \t";
        }
        std::uint64_t at = 0;
        const auto ascii = s22::run_sequences(plan, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), true}, at, count);
        bool same = true;
        for (std::uint64_t s = 0; s < count; ++s) {
            const auto alone = s22::test_sequence(plan, s22::bits_from_bytes(data.data(), s * n, n));
            same = same && same_figures(many[s], alone) && same_figures(ascii[s], alone);
            if (!same_figures(many[s], alone)) std::fprintf(stderr, "many %llu %llu\n", (unsigned long long)n, (unsigned long long)s);
            if (!same_figures(ascii[s], alone)) std::fprintf(stderr, "ascii %llu %llu\n", (unsigned long long)n, (unsigned long long)s);
        }
        CHECK(same);
    }
    const std::string bad = "0101 01x1";
    bool refused = false;
    try {
        s22::input_bits({reinterpret_cast<const std::uint8_t*>(bad.data()), bad.size(), true});
    } catch (const std::invalid_argument& e) {
        refused = std::string(e.what()).find("'x' (byte 7)") != std::string::npos;
    }
    CHECK(refused);
}

// Series whose bins and passes are known.
void check_second_level() {
    // 100 p-values, ten in each bin, two below alpha: uniform (chi-square 0, p_T = 1), 98 passes.
    std::vector<double> even;
    for (int i = 0; i < 100; ++i) even.push_back(i == 0 ? 0.001 : i == 10 ? 0.005 : (i % 10) / 10.0 + 0.05);
    auto s = s22::summarise(even.data(), even.size(), false);
    CHECK(s.passed == 98 && s.uniformity && *s.uniformity == 1.0 && s.passed_all());
    CHECK(near(s.low, 0.99 - 3 * std::sqrt(0.99 * 0.01 / 100), 1e-15));
    // All in one bin: chi-square 9 m, p_T = Q(4.5, 4.5 m).
    std::vector<double> lumped(60, 0.55);
    s = s22::summarise(lumped.data(), lumped.size(), false);
    CHECK(s.bins[5] == 60 && near(*s.uniformity, s22::igamc(4.5, 9 * 60 / 2.0), 1e-12) && !s.uniformity_passed);
    // 15 sequences: the program expects 1 per bin (15/10 in integers), the standard 1.5;
    // the standard wants 55 before judging at all.
    std::vector<double> fifteen;
    for (int i = 0; i < 15; ++i) fifteen.push_back(i < 10 ? i / 10.0 + 0.05 : 0.95);
    s = s22::summarise(fifteen.data(), fifteen.size(), true);
    CHECK(s.bins[9] == 6 && s.uniformity && near(*s.uniformity, s22::igamc(4.5, 25.0 / 2), 1e-12));  // (6 - 1)^2 / 1
    CHECK(!s22::summarise(fifteen.data(), fifteen.size(), false).uniformity);
    // 10 sequences, 8 passing: the program accepts (8 >= floor(8.956)), the standard does not (0.8 < 0.8956).
    std::vector<double> ten = {0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.001, 0.002};
    CHECK(s22::summarise(ten.data(), 10, true).proportion_passed && !s22::summarise(ten.data(), 10, false).proportion_passed);
    // The program reads six decimals back: 0.0099996 prints as 0.010000 and passes; 0.0999996 lands in the second bin.
    std::vector<double> edge = {0.0099996, 0.0999996};
    CHECK(s22::summarise(edge.data(), 2, true).passed == 2 && s22::summarise(edge.data(), 2, false).passed == 1);
    CHECK(s22::summarise(edge.data(), 2, true).bins[1] == 1 && s22::summarise(edge.data(), 2, false).bins[0] == 2);
    // An empty series (random excursions nowhere applicable) passes and judges nothing.
    s = s22::summarise(nullptr, 0, false);
    CHECK(s.sequences == 0 && !s.uniformity && s.passed_all());
}

bool refused_naming(const std::string& name, std::uint64_t n, std::uint32_t tests, bool every, const s22::Parameters& p) {
    try {
        s22::plan_run(n, tests, every, p, false);
    } catch (const std::invalid_argument& e) {
        return std::string(e.what()).find(name) != std::string::npos;
    }
    return false;
}

void check_limits() {
    using T = s22::Test;
    auto with = [](auto set) { s22::Parameters p; set(p); return p; };
    const std::uint32_t all = s22::ALL_TESTS;
    CHECK(refused_naming("block_frequency_block_length", 1000, all, true, with([](auto& p) { p.block_frequency_block_length = 0; })));
    CHECK(refused_naming("longest_run_block_length", 10000, all, true, with([](auto& p) { p.longest_run_block_length = 64; })));
    CHECK(refused_naming("non_overlapping_template_length", 10000, all, true, with([](auto& p) { p.non_overlapping_template_length = 17; })));
    CHECK(refused_naming("non_overlapping_blocks", 10000, all, true, with([](auto& p) { p.non_overlapping_blocks = 101; })));
    CHECK(refused_naming("overlapping_template_length", 10000, all, true, with([](auto& p) { p.overlapping_template_length = 1; })));
    CHECK(refused_naming("universal_block_length", 10000000, all, true, with([](auto& p) { p.universal_block_length = 17; })));
    CHECK(refused_naming("universal_initial_blocks", 10000000, all, true, with([](auto& p) { p.universal_block_length = 7; p.universal_initial_blocks = 1279; })));
    CHECK(refused_naming("linear_complexity_block_length", 1000000, all, true, with([](auto& p) { p.linear_complexity_block_length = 499; })));
    CHECK(refused_naming("serial_block_length", 1000000, all, true, with([](auto& p) { p.serial_block_length = 21; })));
    CHECK(refused_naming("approximate_entropy_block_length", 1000000, all, true, with([](auto& p) { p.approximate_entropy_block_length = 0; })));
    // Too short for a test named on its own: refused; among all of them: left out, with a note.
    CHECK(refused_naming("universal", 100000, s22::bit_of(T::universal), false, {}));
    CHECK(refused_naming("rank", 1000, s22::bit_of(T::rank), false, {}));
    const s22::Plan plan = s22::plan_run(100000, all, true, {}, false);
    CHECK(!(plan.tests & s22::bit_of(T::universal)) && (plan.tests & s22::bit_of(T::rank)));
    CHECK(plan.settings.parameters.longest_run_block_length == 128 && !plan.notes.empty() && !plan.differences.empty());
    // The program's run keeps the universal test and reports p = 0; and notes no differences.
    const s22::Plan program = s22::plan_run(100000, all, true, {}, true);
    CHECK((program.tests & s22::bit_of(T::universal)) && program.settings.parameters.universal_block_length == 0 &&
          program.differences.empty());
    CHECK(s22::plan_run(1000000, all, true, {}, false).settings.parameters.universal_block_length == 7);
    CHECK(refused_naming("length", 0, all, true, {}));
}

}  // namespace

int run_sp800_22_run_tests(bool long_form) {
    passed = failed = 0;
    std::mt19937_64 rng(800 + long_form);
    check_probabilities();
    check_incomplete_gamma();
    check_transforms(rng);
    check_runs(rng);
    check_second_level();
    check_limits();
    std::printf("sp800_22_run tests: %d passed, %d failed\n", passed, failed);
    return failed;
}
