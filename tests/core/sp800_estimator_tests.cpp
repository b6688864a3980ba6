// MCV, collision, Markov, compression, t-Tuple and LRS: every figure of NIST's
// recorded assessments, then the fast code against direct models of the
// standard's definitions on short random and biased inputs, then inputs too
// short or too uniform for an estimate.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "check.hpp"
#include "sp800_vectors.hpp"
#include "suites.hpp"

#include "sp800_90b/estimators.hpp"
#include "sp800_90b/suffix_tuples.hpp"
#include "sp800_tuple_model.hpp"

namespace {

namespace sp = veltrane::sp800_90b;
using namespace sp800_tuple_model;

int passed = 0, failed = 0;

bool close(double ours, double model, double tolerance = 1e-12) {
    return std::fabs(ours - model) <= tolerance * std::max(1.0, std::fabs(model));
}


// ---- the recorded assessments ----

struct Track {
    const sp800_vectors::Vector& vec;
    std::string name;  // "Literal" or "Bitstring"
    void figure(const std::string& estimate, const std::string& label, double ours) {
        const std::string key = name + " " + estimate + " Estimate: " + label;
        const bool ok = vec.has(key) && sp800_vectors::agrees(ours, vec.at(key));
        if (!ok) std::fprintf(stderr, "%s: ours %.17g, recorded %.17g\n", key.c_str(), ours, vec.at(key));
        CHECK(ok);
    }
    bool said(const std::string& estimate, const std::string& words) const {
        const std::string line = name + " " + estimate + " Estimate: " + words;
        return std::find(vec.lines.begin(), vec.lines.end(), line) != vec.lines.end();
    }
};

// The figures of an estimate that searches for the p whose expected mean is the bound X-bar'.
template <class Estimate>
void check_mean_search(Track& tr, const std::string& estimate, const Estimate& e) {
    tr.figure(estimate, "X-bar", e.x_bar);
    tr.figure(estimate, "sigma-hat", e.sigma_hat);
    tr.figure(estimate, "X-bar'", e.x_bar_prime);
    CHECK(tr.said(estimate, e.found_p ? "Found p." : "Could Not Find p. Proceeding with the lower bound for p."));
    tr.figure(estimate, "p", e.p);
    tr.figure(estimate, "min entropy", e.min_entropy);
}

void check_binary_only(Track& tr, sp::Symbols s) {
    const sp::Collision c = sp::collision(s);
    tr.figure("Collision", "v", c.v);
    tr.figure("Collision", "Sum t_i", c.sum_t);
    check_mean_search(tr, "Collision", c);
    const sp::Markov m = sp::markov(s);
    tr.figure("Markov", "P_0", m.p_0);
    tr.figure("Markov", "P_1", m.p_1);
    tr.figure("Markov", "P_{0,0}", m.p_00);
    tr.figure("Markov", "P_{0,1}", m.p_01);
    tr.figure("Markov", "P_{1,0}", m.p_10);
    tr.figure("Markov", "P_{1,1}", m.p_11);
    tr.figure("Markov", "p-hat_max", m.p_hat_max);
    tr.figure("Markov", "min entropy", m.min_entropy);
    const sp::Compression z = sp::compression(s);
    check_mean_search(tr, "Compression", z);
    // The tool's p is the midpoint where its bisection stopped, not the root:
    // the same walk must end on the same double.
    const std::string key = tr.name + " Compression Estimate: p";
    if (z.p != tr.vec.at(key)) std::fprintf(stderr, "%s: ours %.17g, recorded %.17g\n", key.c_str(), z.p, tr.vec.at(key));
    CHECK(z.p == tr.vec.at(key));
}

void check_any_alphabet(Track& tr, sp::Symbols s) {
    const sp::MostCommonValue mcv = sp::most_common_value(s);
    tr.figure("Most Common Value", "Mode count", mcv.mode_count);
    tr.figure("Most Common Value", "p-hat", mcv.p_hat);
    tr.figure("Most Common Value", "p_u", mcv.p_u);
    tr.figure("Most Common Value", "min entropy", mcv.min_entropy);
    const sp::Tuples t = sp::tuple_estimates(s);
    CHECK(t.t_tuple && t.lrs);
    if (!t.t_tuple || !t.lrs) return;
    tr.figure("t-Tuple", "t", t.t_tuple->t);
    tr.figure("t-Tuple", "p-hat_max", t.t_tuple->p_hat_max);
    tr.figure("t-Tuple", "p_u", t.t_tuple->p_u);
    tr.figure("t-Tuple", "min entropy", t.t_tuple->min_entropy);
    tr.figure("LRS", "u", t.lrs->u);
    tr.figure("LRS", "v", t.lrs->v);
    tr.figure("LRS", "p-hat", t.lrs->p_hat);
    tr.figure("LRS", "p_u", t.lrs->p_u);
    tr.figure("LRS", "min entropy", t.lrs->min_entropy);
}

void check_vectors() {
    for (const char* name : sp800_vectors::NAMES) {
        const sp800_vectors::Vector vec = sp800_vectors::load(name);
        CHECK(!vec.samples.empty() && vec.width >= 1);
        if (vec.width == 1) {
            Track literal{vec, "Literal"};
            check_any_alphabet(literal, symbols(vec.samples, 2));
            check_binary_only(literal, symbols(vec.samples, 2));
            continue;
        }
        const Bytes bits = sp800_vectors::bitstring(vec.samples, vec.width);
        Track bitstring{vec, "Bitstring"};
        check_any_alphabet(bitstring, symbols(bits, 2));
        check_binary_only(bitstring, symbols(bits, 2));
        // The literal track numbers the distinct values in their order.
        Bytes sorted = vec.samples;
        std::sort(sorted.begin(), sorted.end());
        sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
        Bytes ranks(vec.samples.size());
        for (std::size_t i = 0; i < ranks.size(); ++i) {
            ranks[i] = static_cast<std::uint8_t>(std::lower_bound(sorted.begin(), sorted.end(), vec.samples[i]) - sorted.begin());
        }
        Track literal{vec, "Literal"};
        check_any_alphabet(literal, symbols(ranks, static_cast<unsigned>(sorted.size())));
    }
}

// ---- direct models ----

void check_tuple_counts(std::mt19937_64& rng) {
    std::vector<Bytes> inputs;
    for (int round = 0; round < 40; ++round) {
        const unsigned k = round % 3 == 0 ? 2 : round % 3 == 1 ? 3 : 200;
        inputs.push_back(random_input(rng, 1 + rng() % 400, k, round % 4 * 0.3));
    }
    // Repetitive inputs whose direct comparison is too costly (the linear method takes over).
    inputs.push_back(Bytes(1500, 1));
    inputs.push_back(random_input(rng, 3000, 2, 0.97));
    Bytes doubled = random_input(rng, 700, 2, 0.0);
    doubled.insert(doubled.end(), doubled.begin(), doubled.end());
    inputs.push_back(doubled);
    Bytes periodic(1200);
    for (std::size_t i = 0; i < periodic.size(); ++i) periodic[i] = "abcab"[i % 5];
    inputs.push_back(periodic);
    for (const Bytes& s : inputs) {
        const sp::TupleCounts model = model_tuples(s);
        const unsigned k = *std::max_element(s.begin(), s.end()) + 1u;
        for (int method = 0; method < 8; ++method) {
            const sp::TupleMethod m{(method & 1) != 0, (method & 2) != 0, (method & 4) != 0};
            const sp::TupleCounts c = sp::count_tuples(symbols(s, std::max(k, 2u)), m);
            const bool ok = c.longest_repeat == model.longest_repeat && c.top == model.top && c.pairs == model.pairs;
            if (!ok) std::fprintf(stderr, "tuple counts differ: n=%zu k=%u method=%d\n", s.size(), k, method);
            CHECK(ok);
        }
    }
}

// Inputs too long for the model, biased enough for the bit sort's in-place
// splitting and its comparison sorting of long shared prefixes, or random:
// every method against the byte suffix sort with its linear prefix method.
void check_tuple_methods(std::mt19937_64& rng) {
    std::vector<Bytes> inputs;
    for (double bias : {0.9, 0.99, 0.999}) inputs.push_back(random_input(rng, 200000, 2, bias));
    // Random bits long enough that the first sort's buckets hold tens of
    // suffixes each, sorted by insertion or spread over bins by size.
    for (std::size_t n : {300000, 1 << 20}) inputs.push_back(random_input(rng, n, 2, 0.0));
    // About as many bits as the first sort has buckets, three in four of them zeros.
    for (std::size_t n : {16383, 16384, 16385}) inputs.push_back(random_input(rng, n, 2, 0.5));
    inputs.push_back(random_input(rng, 1 << 20, 2, 0.3));
    Bytes runs = random_input(rng, 100000, 2, 0.0);
    std::fill(runs.begin() + 20000, runs.begin() + 60000, 0);  // one long run inside noise
    inputs.push_back(runs);
    for (const Bytes& s : inputs) {
        const sp::TupleCounts reference = sp::count_tuples(symbols(s, 2), {true, true, false});
        for (int method = 0; method < 3; ++method) {
            const sp::TupleCounts c = sp::count_tuples(symbols(s, 2), {method == 1, false, method == 2});
            const bool ok = c.longest_repeat == reference.longest_repeat && c.top == reference.top && c.pairs == reference.pairs;
            if (!ok) std::fprintf(stderr, "tuple methods differ: n=%zu method=%d\n", s.size(), method);
            CHECK(ok);
        }
    }
}

// The walk as the standard words it, for any alphabet: from each start, the
// first sample that repeats one since the start ends the step.
void check_collision_and_mcv(std::mt19937_64& rng) {
    bool ok = true;
    for (int round = 0; round < 60; ++round) {
        const Bytes s = random_input(rng, rng() % 3000, 2, round % 5 * 0.2);
        std::vector<double> steps;
        for (std::size_t start = 0; start < s.size();) {
            std::size_t j = start + 1;
            while (j < s.size() && std::find(s.begin() + start, s.begin() + j, s[j]) == s.begin() + j) ++j;
            if (j >= s.size()) break;
            steps.push_back(static_cast<double>(j - start + 1));
            start = j + 1;
        }
        const sp::Collision c = sp::collision(symbols(s, 2));
        ok = ok && c.v == steps.size();
        if (steps.size() >= 2) {
            double sum = 0, dev = 0;
            for (double t : steps) sum += t;
            const double mean = sum / steps.size();
            for (double t : steps) dev += (t - mean) * (t - mean);
            ok = ok && c.sum_t == sum && close(c.x_bar, mean) && close(c.sigma_hat, std::sqrt(dev / (steps.size() - 1)));
            // The p found reproduces the mean walk 2 + 2p(1-p) it was solved from.
            if (c.found_p) ok = ok && close(2 + 2 * c.p * (1 - c.p), c.x_bar_prime);
        }
        std::map<std::uint8_t, std::uint64_t> counts;
        for (auto x : s) ++counts[x];
        std::uint64_t mode = 0;
        for (auto [value, count] : counts) mode = std::max(mode, count);
        const sp::MostCommonValue mcv = sp::most_common_value(symbols(s, 2));
        ok = ok && mcv.mode_count == mode && (s.empty() || mcv.p_hat == double(mode) / s.size());
    }
    CHECK(ok);
}

// The most likely 128-bit path by dynamic programming over both end states
// must be one of the six candidates the standard lists.
void check_markov(std::mt19937_64& rng) {
    bool ok = true;
    for (int round = 0; round < 40; ++round) {
        const Bytes s = random_input(rng, 2 + rng() % 5000, 2, round % 8 * 0.12);
        const sp::Markov m = sp::markov(symbols(s, 2));
        const double step[2][2] = {{m.p_00, m.p_01}, {m.p_10, m.p_11}};
        double best[2] = {m.p_0, m.p_1};
        for (int i = 1; i < 128; ++i) {
            const double b0 = std::max(best[0] * step[0][0], best[1] * step[1][0]);
            const double b1 = std::max(best[0] * step[0][1], best[1] * step[1][1]);
            best[0] = b0, best[1] = b1;
        }
        ok = ok && close(m.p_hat_max, std::max(best[0], best[1]), 1e-12) && close(m.p_00 + m.p_01, 1.0);
    }
    CHECK(ok);
}

// The compression statistics from a scan back for each block's last
// occurrence, and the standard's double sum for G evaluated at the p found.
void check_compression(std::mt19937_64& rng) {
    bool ok = true;
    for (int round = 0; round < 6; ++round) {
        const Bytes s = random_input(rng, 6 * (1002 + rng() % 300) + rng() % 6, 2, round * 0.15);
        const std::size_t L = s.size() / 6, d = 1000;
        std::vector<unsigned> block(L + 1);
        for (std::size_t i = 1; i <= L; ++i) {
            for (int b = 0; b < 6; ++b) block[i] = block[i] * 2 + s[(i - 1) * 6 + b];
        }
        double sum = 0, squares = 0;
        for (std::size_t i = d + 1; i <= L; ++i) {
            std::size_t j = i - 1;
            while (j >= 1 && block[j] != block[i]) --j;
            const double lg = std::log2(double(i - j));
            sum += lg, squares += lg * lg;
        }
        const double v = double(L - d), mean = sum / v;
        const sp::Compression c = sp::compression(symbols(s, 2));
        ok = ok && close(c.x_bar, mean) && close(c.sigma_hat, 0.5907 * std::sqrt(squares / (v - 1) - mean * mean));
        auto G = [&](double z) {
            double g = 0;
            for (std::size_t t = d + 1; t <= L; ++t) {
                for (std::size_t u = 1; u < t; ++u) g += std::log2(double(u)) * z * z * std::pow(1 - z, double(u - 1));
                g += std::log2(double(t)) * z * std::pow(1 - z, double(t - 1));
            }
            return g / v;
        };
        if (c.found_p) ok = ok && close(G(c.p) + 63 * G((1 - c.p) / 63), c.x_bar_prime, 1e-10);
        if (!ok) std::fprintf(stderr, "compression differs in round %d\n", round);
    }
    CHECK(ok);
}

// The compression estimate's mean, against a compensated sum of every block's
// log-distance, on inputs long enough for a running double sum to drift by
// hundreds of ulps; and its p, against the bisection NIST's tool walks (midpoints
// of [1/64, 1], stopping at the first one whose expectation lies below X-bar'
// by less than 1e-15 of it) with G summed the standard's way, block by block.
void check_compression_mean_and_walk(std::mt19937_64& rng) {
    constexpr std::size_t d = 1000;
    auto blocks_of = [](const Bytes& s) {
        std::vector<unsigned> block(s.size() / 6 + 1);
        for (std::size_t i = 1; i < block.size(); ++i) {
            for (int b = 0; b < 6; ++b) block[i] = block[i] * 2 + s[(i - 1) * 6 + b];
        }
        return block;
    };
    for (double bias : {0.0, 0.3}) {
        const Bytes s = random_input(rng, 6 * 400000 + 5, 2, bias);
        const std::vector<unsigned> block = blocks_of(s);
        std::vector<std::size_t> last(64, 0);
        long double sum = 0, carry = 0;  // Kahan
        for (std::size_t i = 1; i < block.size(); ++i) {
            if (i > d) {
                const long double term = std::log2(static_cast<long double>(i - last[block[i]])) - carry;
                const long double next = sum + term;
                carry = (next - sum) - term;
                sum = next;
            }
            last[block[i]] = i;
        }
        const double mean = static_cast<double>(sum / static_cast<long double>(block.size() - 1 - d));
        const double ours = sp::compression(symbols(s, 2)).x_bar;
        const bool ok = ours == mean || ours == std::nextafter(mean, 0.0) || ours == std::nextafter(mean, 10.0);
        if (!ok) std::fprintf(stderr, "compression mean %.17g, compensated sum %.17g\n", ours, mean);
        CHECK(ok);
    }
    for (int round = 0; round < 8; ++round) {
        const Bytes s = random_input(rng, 6 * (3000 + rng() % 20000) + rng() % 6, 2, round * 0.04);
        const std::size_t L = s.size() / 6;
        const long double v = static_cast<long double>(L - d);
        // Compensated: g adds some 20000 terms of about the same size.
        struct Sum {
            long double total = 0, carry = 0;
            void add(long double x) {
                const long double y = x - carry, next = total + y;
                carry = (next - total) - y;
                total = next;
            }
        };
        auto G = [&](long double z) {
            Sum inner, g;  // inner: sum_{u<t} log2(u) z^2 (1-z)^(u-1)
            long double power = 1;
            for (std::size_t t = 1; t <= L; ++t) {
                if (t > d) g.add(inner.total + std::log2(static_cast<long double>(t)) * z * power);
                inner.add(std::log2(static_cast<long double>(t)) * z * z * power);
                power *= 1 - z;
            }
            return g.total / v;
        };
        auto F = [&](double p) { return G(p) + 63 * G((1 - static_cast<long double>(p)) / 63); };
        const sp::Compression c = sp::compression(symbols(s, 2));
        const long double x = c.x_bar_prime;
        double lo = 1.0 / 64, hi = 1.0, p = 1.0 / 64;
        // A midpoint whose expectation is within rounding of the target may go
        // either way in two evaluations; the walks may then part (rarely).
        bool ambiguous = false;
        const bool found = x < F(lo);
        while (found) {
            const double mid = 0.5 * (lo + hi);
            const long double f = F(mid);
            ambiguous = ambiguous || std::fabs(f - x) < 1e-17L * x || std::fabs(x - f - 1e-15L * x) < 1e-17L * x;
            if (f > x) {
                lo = mid;
            } else {
                hi = mid;
                if (x - f < 1e-15L * x) break;
            }
        }
        if (found) p = hi;
        const bool ok = c.found_p == found && (c.p == p || ambiguous);
        if (!ok) std::fprintf(stderr, "compression walk, round %d: ours %.17g, model %.17g\n", round, c.p, p);
        CHECK(ok);
    }
}

// Inputs too short or too uniform for an estimate: no crash, no hang, and the
// documented answers (empty tuples, the lower bounds' one bit).
void check_degenerate() {
    for (std::size_t n : {0, 1, 2, 3, 5, 34, 35, 100, 7000}) {
        for (std::uint8_t value : {0, 1}) {
            const Bytes s(n, value);
            const sp::Tuples t = sp::tuple_estimates(symbols(s, 2));
            CHECK(t.t_tuple.has_value() == (n >= 35));
            CHECK(t.lrs.has_value() == (n >= 2));
            if (t.t_tuple) CHECK(t.t_tuple->t == n - 34 && t.t_tuple->min_entropy == 0);
            if (t.lrs) CHECK(t.lrs->v == n - 1 && t.lrs->p_hat == 1);
            const sp::MostCommonValue mcv = sp::most_common_value(symbols(s, 2));
            CHECK(mcv.mode_count == n && (n == 0 || mcv.min_entropy == 0) && !std::signbit(mcv.min_entropy));
            const sp::Collision c = sp::collision(symbols(s, 2));
            CHECK(c.found_p == (n >= 4) && c.min_entropy == (n >= 4 ? 0.0 : 1.0));
            const sp::Markov m = sp::markov(symbols(s, 2));
            // One sample has no transitions: every path from it has probability 0, H = 1
            // (no samples: every figure stays 0).
            CHECK(m.min_entropy == (n == 1 ? 1.0 : 0.0));
            const sp::Compression z = sp::compression(symbols(s, 2));
            CHECK(z.found_p == (n >= 6012) && z.min_entropy == (n >= 6012 ? 0.0 : 1.0));
        }
    }
    // A byte other than 0 or 1 is refused by the estimates for bits.
    const Bytes stray{0, 1, 1, 0, 2, 0, 1};
    for (auto estimate : {+[](sp::Symbols s) { sp::collision(s); }, +[](sp::Symbols s) { sp::markov(s); },
                          +[](sp::Symbols s) { sp::compression(s); }}) {
        bool refused = false;
        try {
            estimate(symbols(stray, 2));
        } catch (const std::invalid_argument&) {
            refused = true;
        }
        CHECK(refused);
    }
    // Distinct symbols: nothing repeats, no tuple estimate of either kind.
    Bytes distinct(250);
    for (std::size_t i = 0; i < distinct.size(); ++i) distinct[i] = static_cast<std::uint8_t>(i);
    const sp::Tuples t = sp::tuple_estimates(symbols(distinct, 256));
    CHECK(!t.t_tuple && !t.lrs);
}

}  // namespace

int run_sp800_estimator_tests(bool) {
    passed = failed = 0;
    std::mt19937_64 rng(20261209);
    check_vectors();
    check_tuple_counts(rng);
    check_tuple_methods(rng);
    check_collision_and_mcv(rng);
    check_markov(rng);
    check_compression(rng);
    check_compression_mean_and_walk(rng);
    check_degenerate();
    std::printf("sp800_estimators: %d passed, %d failed\n", passed, failed);
    return failed;
}
