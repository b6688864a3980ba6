// The IID track: the generator and the shuffle against a plain model of the
// published recurrence and draw, the statistics against their definitions on
// short inputs of every kind, the permutation test's counters against a plain
// loop of rounds, and every figure of NIST's four recorded IID runs.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "check.hpp"
#include "reference_iid.hpp"
#include "suites.hpp"

#include "sp800_90b_iid/bit_runs.hpp"
#include "sp800_90b_iid/compression_statistic.hpp"
#include "sp800_90b_iid/draws.hpp"
#include "sp800_90b_iid/excursion.hpp"
#include "sp800_90b_iid/iid.hpp"
#include "sp800_90b_iid/shuffle.hpp"

namespace {

namespace iid = veltrane::sp800_90b::iid;
namespace ref = reference_iid;
using Bytes = std::vector<std::uint8_t>;

int passed = 0, failed = 0;

iid::Seed random_seed(std::mt19937_64& rng) {
    iid::Seed s;
    for (auto& b : s) b = static_cast<std::uint8_t>(rng());
    return s;
}

// The stream, the draws (huge ranges reject often, small ones never) and the shuffle.
void check_generator(std::mt19937_64& rng) {
    for (int round = 0; round < 20; ++round) {
        const iid::Seed seed = random_seed(rng);
        iid::Xoshiro256 ours(seed);
        ref::Generator model = ref::generator_of(seed);
        bool same = true;
        for (int i = 0; i < 1000; ++i) same = same && ours.next() == model.next();
        for (int i = 0; i < 2000; ++i) {
            const std::uint64_t top = i % 3 == 0 ? (std::uint64_t{1} << 63) + rng() % (std::uint64_t{1} << 62)
                                                 : rng() % (i % 3 == 1 ? 1000 : 1000000000);
            same = same && ours.draw(top) == model.draw(top);
        }
        Bytes a(1 + rng() % 3000), b;
        for (auto& x : a) x = static_cast<std::uint8_t>(rng());
        b = a;
        iid::shuffle(ours, a.data(), a.size());
        for (std::size_t i = b.size(); i-- > 1;) std::swap(b[i], b[model.draw(i)]);
        same = same && a == b && ours.next() == model.next();
        CHECK(same);
    }
    iid::Seed zero{};
    CHECK(!iid::usable(zero));
    zero[31] = 1;
    CHECK(iid::usable(zero));
}

// A round's indices drawn in lanes of the stream jumped ahead, against one
// draw after the other: equal, and the stream left at the same place, also
// when a draw rejects (a state whose first output is 0 makes the first one do).
void check_round_draws(std::mt19937_64& rng) {
    for (unsigned lanes : {1u, 4u, 8u}) {
        if (lanes > iid::RoundDraws::lanes_here()) continue;
        for (int round = 0; round < 16; ++round) {
            const std::size_t n = round < 4 ? std::size_t{2100} + round * 9 : 1025 + rng() % 40000;
            iid::Xoshiro256::State start{rng(), rng(), rng(), rng()};
            if (round % 6 == 5) start[1] = 0;
            const iid::RoundDraws draws(n, lanes);
            std::vector<std::uint32_t> to(n);
            const iid::Xoshiro256::State after = draws.draw(start, to.data());
            ref::Generator model{{start[0], start[1], start[2], start[3]}};
            bool same = true;
            for (std::size_t p = 0; p + 1 < n; ++p) same = same && to[p] == model.draw(n - 1 - p);
            const iid::Xoshiro256::State model_after{model.s[0], model.s[1], model.s[2], model.s[3]};
            if (!same || after != model_after) std::fprintf(stderr, "round draws differ: %u lanes, n %zu\n", lanes, n);
            CHECK(same && after == model_after);
        }
    }
    std::printf("sp800_iid: round draws tested with up to %u lanes\n", iid::RoundDraws::lanes_here());
    // Jumps: the lanes' starts.
    for (int round = 0; round < 8; ++round) {
        const iid::Xoshiro256::State start{rng(), rng(), rng(), rng()};
        const std::uint64_t steps = rng() % 100000;
        iid::Xoshiro256 walked(start);
        for (std::uint64_t k = 0; k < steps; ++k) walked.next();
        CHECK(iid::Jump(steps).apply(start) == walked.state());
    }
}

void check_bit_runs(std::mt19937_64& rng) {
    for (int round = 0; round < 300; ++round) {
        const std::size_t m = rng() % 700;
        const unsigned stickiness = static_cast<unsigned>(rng() % 100);  // long runs across words too
        std::vector<std::uint64_t> words(m / 64 + 2, 0);
        std::vector<int> bits(m);
        int bit = 0;
        for (std::size_t i = 0; i < m; ++i) {
            if (rng() % 100 >= stickiness) bit = static_cast<int>(rng() & 1);
            bits[i] = bit;
            if (bit) words[i / 64] |= std::uint64_t{1} << (i % 64);
        }
        // Bits past m must not count: noise there.
        if (m % 64 != 0) words[m / 64] |= rng() & ~((std::uint64_t{1} << (m % 64)) - 1);
        words.back() |= rng();
        const iid::Runs r = iid::runs_of_bits(words.data(), m);
        const auto [count, longest] = ref::runs(bits);
        const auto ones = static_cast<std::uint64_t>(std::count(bits.begin(), bits.end(), 1));
        CHECK(r.count == count && r.longest == longest && r.ones == ones);
    }
}

Bytes sample_input(std::mt19937_64& rng, int kind, std::size_t n) {
    Bytes values(1 + rng() % 255);
    for (auto& v : values) v = static_cast<std::uint8_t>(rng());
    if (kind == 1) values.resize(2);  // binary, raw values anywhere
    if (kind == 2) values = {0, 1};
    if (kind == 3) values.resize(1);  // constant
    Bytes s(n);
    for (auto& x : s) x = values[rng() % values.size()];
    if (kind == 4) std::sort(s.begin(), s.end());  // long runs and no repeats nearby
    if (kind == 5) {
        for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<std::uint8_t>(i % 7 * 30);  // periodic
    }
    return s;
}

void check_statistics(std::mt19937_64& rng) {
    for (int round = 0; round < 600; ++round) {
        const int kind = round % 6;
        static const std::size_t edges[] = {1, 2, 3, 8, 9, 63, 64, 65, 127, 128, 129, 1000};
        const std::size_t n = round < 72 ? edges[round % 12] : 1 + rng() % 2000;
        const Bytes s = sample_input(rng, kind, n);
        const iid::SampleFacts f = iid::facts_of(s.data(), s.size());
        iid::Values ours{};
        iid::Scratch scratch;
        iid::compute_statistics(f, s.data(), iid::ALL_STATISTICS & ~iid::bit(iid::COMPRESSION), ours, scratch);
        const ref::Values model = ref::statistics(s);
        const ref::Prepared p = ref::prepare(s);
        Bytes sorted = p.ranks;
        std::sort(sorted.begin(), sorted.end());
        const double median = p.k == 2 ? 0.5 : n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
        bool same = f.median == median && f.alphabet.k == p.k;
        for (unsigned k = 0; k < model.size(); ++k) {
            if (ours[k] != model[k]) {
                std::fprintf(stderr, "%s: ours %.17g, model %.17g (n %zu, kind %d)\n", iid::STATISTIC_NAMES[k],
                             ours[k], model[k], n, kind);
                same = false;
            }
        }
        CHECK(same);
    }
}

// The excursion's vector steps against its one-by-one scan on long inputs:
// random walks, binary ones (whose half-integer steps return to a record
// often) and constant ones (every place level with the best).
void check_excursion(std::mt19937_64& rng) {
    for (int round = 0; round < 12; ++round) {
        const std::size_t n = 1 + rng() % 300000;
        const Bytes s = sample_input(rng, round % 4 == 3 ? 3 : round % 3, n);
        const iid::SampleFacts f = iid::facts_of(s.data(), s.size());
        CHECK(iid::excursion(s.data(), n, f.mean) == iid::excursion_one_by_one(s.data(), n, f.mean));
    }
}

// The driver's counters against one plain loop of rounds with the model's
// shuffle and statistics, on inputs short enough to run every round.
void check_permutation_test(std::mt19937_64& rng) {
    for (int round = 0; round < 12; ++round) {
        const Bytes s = sample_input(rng, round % 6, 40 + rng() % 400);
        const iid::Seed seed = random_seed(rng);
        const std::uint64_t max_rounds = 1 + rng() % 400;
        const iid::SampleFacts f = iid::facts_of(s.data(), s.size());
        iid::Xoshiro256 stream(seed);
        const iid::PermutationTest ours = iid::permutation_test(f, s.data(), stream, max_rounds);

        ref::Generator g = ref::generator_of(seed);
        iid::CompressionStatistic compression;
        auto all = [&](const Bytes& x) {
            const ref::Values v = ref::statistics(x);
            std::array<double, iid::STATISTICS> out{};
            std::copy(v.begin(), v.end(), out.begin());
            out[iid::COMPRESSION] = compression(x.data(), x.size());
            return out;
        };
        const auto original = all(s);
        std::array<std::array<std::uint64_t, 3>, iid::STATISTICS> counters{};
        std::uint32_t active = iid::ALL_STATISTICS;
        Bytes x = s;
        std::uint64_t rounds = 0;
        while (active != 0 && rounds < max_rounds) {
            for (std::size_t i = x.size(); i-- > 1;) std::swap(x[i], x[g.draw(i)]);
            const auto now = all(x);
            ++rounds;
            for (unsigned k = 0; k < iid::STATISTICS; ++k) {
                if (!(active >> k & 1)) continue;
                auto& c = counters[k];
                ++c[now[k] > original[k] ? 0 : now[k] == original[k] ? 1 : 2];
                if (c[0] + c[1] > 5 && c[1] + c[2] > 5) active &= ~(1U << k);
            }
        }
        CHECK(ours.rounds == rounds && ours.counters == counters);
        // The stream is left after the last round counted, not after rounds shuffled ahead.
        CHECK(stream.next() == g.next());
    }
}

// ---- the recorded runs ----

std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double figure(const std::string& text, const std::string& label) {
    const std::size_t at = text.find(label);
    if (at == std::string::npos) return std::nan("");
    return std::stod(text.substr(at + label.size()));
}

void check_recorded_run(const char* name, const char* data_dir, const char* seed_file) {
    const std::string base = std::string(VELTRANE_TEST_DATA);
    const std::string res = read(base + "/sp800_90b_iid/" + name + ".iid.res");
    const std::string raw = read(base + "/" + data_dir + "/" + name + ".bin");
    const std::string seed_bytes = read(base + "/sp800_90b_iid/" + seed_file);
    iid::Seed seed;
    std::copy(seed_bytes.begin(), seed_bytes.end(), seed.begin());
    const Bytes data(raw.begin(), raw.end());
    const iid::IidAssessment a = iid::assess_iid(data.data(), data.size(), std::nullopt, seed, false);

    auto close = [](double ours, double theirs) { return ours == theirs || std::fabs(ours - theirs) <= 1e-10 * std::fabs(theirs); };
    bool ok = close(a.literal.min_entropy, figure(res, "H_original = ")) &&
              close(a.initial_entropy, figure(res, "Assessed min entropy: ")) &&
              a.mean == figure(res, "Raw Mean = ") && a.median == figure(res, "Median = ");
    if (a.bitstring) ok = ok && close(a.bitstring->min_entropy, figure(res, "H_bitstring = "));
    const iid::ChiSquare& ind = a.chi_square.independence;
    const iid::ChiSquare& fit = a.chi_square.goodness_of_fit;
    // The statistics are the tool's to the last bit; its p-values come from another gamma function.
    ok = ok && ind.statistic == figure(res, "independence: T = ") && ind.df == figure(res, "independence: df = ") &&
         close(ind.p_value, figure(res, "independence: P-value = ")) &&
         fit.statistic == figure(res, "goodness of fit: T = ") && fit.df == figure(res, "goodness of fit: df = ") &&
         close(fit.p_value, figure(res, "goodness of fit: P-value = "));
    ok = ok && (res.find("Chi square tests: Passed") != std::string::npos) == a.chi_square.passed();
    ok = ok && a.lrs.w == figure(res, "results: W = ") &&
         static_cast<double>(a.lrs.p_col) == std::stod(res.substr(res.find("P_col = ") + 8)) &&
         close(static_cast<double>(a.lrs.probability), figure(res, "Pr(X >= 1) = ")) &&
         (res.find("substring test: Passed") != std::string::npos) == a.lrs.passed;
    for (unsigned s = 0; s < iid::STATISTICS; ++s) {
        const std::string label = std::string("Unpermuted result ") + iid::STATISTIC_NAMES[s] + " = ";
        ok = ok && a.permutation.original[s] == figure(res, label);
        // The counter row: name (a star when failed), C0, C1, C2.
        const std::regex row(std::string("\\s") + std::regex_replace(iid::STATISTIC_NAMES[s], std::regex("[()]"), "\\$&") +
                             "(\\*?)\\s+(\\d+)\\s+(\\d+)\\s+(\\d+)\\n");
        std::smatch m;
        ok = ok && std::regex_search(res, m, row) && (m[1] == "*") == bool(a.permutation.failed & iid::bit(s)) &&
             std::stoull(m[2]) == a.permutation.counters[s][0] && std::stoull(m[3]) == a.permutation.counters[s][1] &&
             std::stoull(m[4]) == a.permutation.counters[s][2];
    }
    ok = ok && (res.find("IID permutation tests: Passed") != std::string::npos) == a.permutation.passed();
    if (!ok) std::fprintf(stderr, "recorded IID run %s differs\n", name);
    CHECK(ok);
}

}  // namespace

int run_sp800_iid_tests(bool long_form) {
    passed = failed = 0;
    std::mt19937_64 rng(20261210);
    check_generator(rng);
    check_round_draws(rng);
    check_bit_runs(rng);
    check_statistics(rng);
    check_excursion(rng);
    check_permutation_test(rng);
    check_recorded_run("rand8_short", "sp800_90b", "seed1.bin");
    check_recorded_run("rand4_short", "sp800_90b", "seed2.bin");
    check_recorded_run("rand1_short", "sp800_90b", "seed1.bin");
    // All 10,000 rounds with every statistic, compression included.
    if (long_form) check_recorded_run("walk_short", "sp800_90b_iid", "seed2.bin");
    std::printf("sp800_iid: %d passed, %d failed\n", passed, failed);
    return failed;
}
