// The restart sanity check's alpha and cutoff: the probabilities against every
// outcome counted out (tiny cases) and against a value-by-value model (up to the
// test's 1000 draws), the cutoffs of NIST's tool, a simulation where its quantile
// is unambiguous, and the arguments refused.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "check.hpp"
#include "reference_restart.hpp"
#include "suites.hpp"

#include "sp800_90b_restart/restart_cutoff.hpp"

namespace {

namespace sp = veltrane::sp800_90b;
namespace ref = restart_reference;

int passed = 0, failed = 0;

bool near(double ours, long double model, double tolerance = 1e-12) {
    const bool ok = std::fabs(static_cast<long double>(ours) - model) <= tolerance;
    if (!ok) std::fprintf(stderr, "  ours %.17g, model %.17Lg\n", ours, model);
    return ok;
}

// The smallest x whose model probability reaches 1 - alpha; 0 when some
// probability lies too near 1 - alpha for the comparison to say anything.
template <class Model>
std::uint64_t model_cutoff(Model probability, unsigned n, double alpha) {
    for (unsigned x = 0; x <= n; ++x) {
        const long double p = probability(x);
        if (std::fabs(p - (1.0L - alpha)) < 1e-9L) return 0;
        if (p >= 1.0L - alpha) return x;
    }
    return 0;
}

void check_alpha() {
    // NIST's tool prints 5.0251553006530614e-06: this double, bit for bit.
    CHECK(sp::restart_alpha() == 5.0251553006530614e-06);
    CHECK(sp::restart_alpha(1000) == 0x1.513b82bce0000p-18);
    // Elsewhere the formula, within what its subtraction from 1 loses.
    for (std::uint64_t restarts : {1ull, 2ull, 10ull, 999ull, 1000000ull}) {
        const double model = -std::expm1(std::log(0.99) / (2.0 * static_cast<double>(restarts)));
        CHECK(std::fabs(sp::restart_alpha(restarts) - model) <= 0x1p-52 + 1e-15 * model);
    }
}

// Every outcome counted out: every x for tiny numbers of draws and of values
// (h up to 2.3: at most five values), and the cutoffs at several levels.
void check_against_outcomes() {
    for (double h : {0.05, 0.3, 0.9, 1.0, 1.4, 1.58, 2.0, 2.3}) {
        const std::vector<double> probs = ref::distribution(h);
        for (unsigned n = 1; n <= 10; ++n) {
            for (unsigned x = 0; x <= n + 1; ++x) {
                CHECK(near(sp::max_count_probability(h, x, n), ref::by_outcomes(probs, n, x)));
            }
            for (double alpha : {0.5, 0.2, 0.05, 0.01, 1e-3}) {
                const std::uint64_t expected =
                    model_cutoff([&](unsigned x) { return ref::by_outcomes(probs, n, x); }, n, alpha);
                if (expected != 0) CHECK(sp::restart_cutoff(h, alpha, n) == expected);
            }
        }
    }
    // The two models agree with each other where both run.
    for (double h : {0.5, 1.7, 2.2}) {
        const std::vector<double> probs = ref::distribution(h);
        for (unsigned x = 2; x <= 9; ++x) CHECK(near(static_cast<double>(ref::by_values(probs, 9, x)), ref::by_outcomes(probs, 9, x)));
    }
}

// The value-by-value model at sizes where the series are squared many times and
// the scaling matters: many values, up to the 2000 draws allowed.
void check_against_values(std::mt19937_64& rng) {
    std::uniform_real_distribution<double> any_h(0.01, 8.0);
    struct Case {
        double h;
        unsigned n;
    };
    std::vector<Case> cases{{8.0, 1000}, {6.0, 1000}, {0.2, 1000}, {4.9, 2000}, {7.3, 700}, {3.5, 333}};
    for (int i = 0; i < 6; ++i) cases.push_back({any_h(rng), static_cast<unsigned>(1 + rng() % 400)});
    for (const Case& c : cases) {
        const std::vector<double> probs = ref::distribution(c.h);
        const double mean = c.n * probs.front();
        // Around the mean count and out into the upper tail, where the cutoffs lie.
        for (double z : {-1.0, 0.0, 2.0, 4.0, 6.0}) {
            const double guess = mean + z * std::sqrt(mean);
            const unsigned x = static_cast<unsigned>(std::clamp(guess, 0.0, static_cast<double>(c.n)));
            CHECK(near(sp::max_count_probability(c.h, x, c.n), ref::by_values(probs, c.n, x), 1e-11));
        }
    }
}

// The cutoffs of NIST's tool (restart_bad1's 605 and the design note's 55 and
// 22), with the exact probabilities on either side of 1 - alpha. For h = 3 the
// tool printed 179 (restart4): its quantile is simulated, and the exact one is
// 178, where P(max > 178) = 4.654e-6 is below alpha = 5.025e-6 (an exact
// rational computation with p = 1/8 agrees to 20 digits). Over the tool's 5e6
// rounds about 23 maxima exceed 178 where 25 are allowed, so a simulation gives
// 179 about a third of the time.
void check_tool_cutoffs() {
    const double alpha = sp::restart_alpha();
    const struct {
        double h;
        std::uint64_t cutoff;
    } cases[] = {{3.0, 178}, {0.9, 605}, {5.3, 55}, {7.5, 22}};
    for (const auto& c : cases) {
        CHECK(sp::restart_cutoff(c.h, alpha) == c.cutoff);
        const std::vector<double> probs = ref::distribution(c.h);
        const unsigned x = static_cast<unsigned>(c.cutoff);
        CHECK(ref::by_values(probs, 1000, x - 1) < 1.0L - alpha);
        CHECK(ref::by_values(probs, 1000, x) >= 1.0L - alpha);
    }
}

// The maximum count over simulated rounds: its distribution within a few
// standard errors of ours at every x, and its quantile equal to our cutoff
// wherever ours is unambiguous at this many rounds.
void check_against_simulation(std::mt19937_64& rng) {
    constexpr int ROUNDS = 40000;
    const struct {
        double h;
        unsigned n;
    } cases[] = {{1.5, 30}, {2.7, 60}, {4.2, 100}, {6.0, 50}, {7.9, 100}, {0.4, 80}};
    int decided = 0;
    for (const auto& c : cases) {
        const std::vector<double> probs = ref::distribution(c.h);
        std::discrete_distribution<unsigned> draw(probs.begin(), probs.end());
        std::vector<unsigned> counts(probs.size());
        std::vector<double> at_most(c.n + 1, 0.0);
        for (int round = 0; round < ROUNDS; ++round) {
            std::fill(counts.begin(), counts.end(), 0u);
            for (unsigned i = 0; i < c.n; ++i) ++counts[draw(rng)];
            ++at_most[*std::max_element(counts.begin(), counts.end())];
        }
        for (unsigned x = 1; x <= c.n; ++x) at_most[x] += at_most[x - 1];
        for (double& v : at_most) v /= ROUNDS;
        std::vector<double> ours(c.n + 1);
        for (unsigned x = 0; x <= c.n; ++x) {
            ours[x] = sp::max_count_probability(c.h, x, c.n);
            const double spread = std::sqrt(ours[x] * (1.0 - ours[x]) / ROUNDS);
            CHECK(std::fabs(at_most[x] - ours[x]) <= 5.0 * spread + 1.0 / ROUNDS);
        }
        for (double alpha : {0.05, 0.01}) {
            const std::uint64_t cutoff = sp::restart_cutoff(c.h, alpha, c.n);
            CHECK(ours[cutoff] >= 1.0 - alpha && (cutoff == 0 || ours[cutoff - 1] < 1.0 - alpha));
            const double margin = 5.0 * std::sqrt(alpha * (1.0 - alpha) / ROUNDS);
            if (ours[cutoff] < 1.0 - alpha + margin || ours[cutoff - 1] > 1.0 - alpha - margin) continue;
            std::uint64_t simulated = 0;
            while (at_most[simulated] < 1.0 - alpha) ++simulated;
            CHECK(simulated == cutoff);
            ++decided;
        }
    }
    CHECK(decided >= 6);  // most cases decide; a level that never did would test nothing
}

// What holds for any h and number of draws: 0 below the pigeonhole bound, 1 from
// all draws on, nondecreasing between, and the cutoff where it crosses.
void check_shape(std::mt19937_64& rng) {
    std::uniform_real_distribution<double> any_h(0.001, 8.0);
    for (int round = 0; round < 40; ++round) {
        const double h = round == 0 ? 8.0 : any_h(rng);
        const unsigned n = static_cast<unsigned>(1 + rng() % 300);
        const std::size_t values = ref::distribution(h).size();
        const unsigned lowest = static_cast<unsigned>((n + values - 1) / values);
        double previous = 0.0;
        bool monotone = true;
        for (unsigned x = 0; x <= n + 2; ++x) {
            const double p = sp::max_count_probability(h, x, n);
            if (x < lowest) CHECK(p == 0.0);
            if (x >= n) CHECK(p == 1.0);
            monotone = monotone && p >= previous - 1e-13 && p <= 1.0;
            previous = p;
        }
        CHECK(monotone);
        const double alpha = std::ldexp(1.0, -static_cast<int>(1 + rng() % 30));
        const std::uint64_t cutoff = sp::restart_cutoff(h, alpha, n);
        CHECK(cutoff >= lowest && cutoff <= n);
        CHECK(sp::max_count_probability(h, cutoff, n) >= 1.0 - alpha);
        CHECK(sp::max_count_probability(h, cutoff - 1, n) < 1.0 - alpha);
    }
}

template <class F>
bool refused(F f) {
    try {
        f();
    } catch (const std::invalid_argument&) {
        return true;
    }
    return false;
}

void check_refused() {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    for (double h : {0.0, -1.0, 8.000001, nan, inf, -inf}) {
        CHECK(refused([&] { sp::restart_cutoff(h, 0.01); }));
        CHECK(refused([&] { sp::max_count_probability(h, 3); }));
    }
    for (double alpha : {0.0, 1.0, -0.5, 1.5, nan, inf}) CHECK(refused([&] { sp::restart_cutoff(3.0, alpha); }));
    for (std::uint64_t draws : {std::uint64_t{0}, sp::RESTART_MAX_DRAWS + 1}) {
        CHECK(refused([&] { sp::restart_cutoff(3.0, 0.01, draws); }));
        CHECK(refused([&] { sp::max_count_probability(3.0, 1, draws); }));
    }
    CHECK(refused([] { sp::restart_alpha(0); }));
    // The edges that are allowed.
    CHECK(sp::restart_cutoff(8.0, 0.01, sp::RESTART_MAX_DRAWS) > 0);
    CHECK(sp::restart_cutoff(1e-9, 0.5, 1) == 1);
}

}  // namespace

int run_sp800_restart_tests(bool) {
    passed = failed = 0;
    std::mt19937_64 rng(20260314);
    check_alpha();
    check_against_outcomes();
    check_against_values(rng);
    check_tool_cutoffs();
    check_against_simulation(rng);
    check_shape(rng);
    check_refused();
    std::printf("sp800_restart: %d passed, %d failed\n", passed, failed);
    return failed;
}
