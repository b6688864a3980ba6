// The predictors' ways made for bits against their references: the scoreboard
// block by block against the standard's position by position, the flat tables
// (with wide vectors and without) against the dictionaries of wider symbols on
// inputs too long for the naive models, and MultiMCW's window modes where the
// counts drift far from half.
#include <cstdio>
#include <random>
#include <vector>

#include "check.hpp"
#include "reference_predictors.hpp"
#include "sp800_predictor_support.hpp"
#include "suites.hpp"

#include "sp800_90b/counters.hpp"
#include "sp800_90b/estimators.hpp"
#include "sp800_90b/scoreboard.hpp"

namespace sp = veltrane::sp800_90b;

namespace {

using namespace sp800_predictor_support;

int passed = 0, failed = 0;

// The scoreboard played a block at a time against the standard's position by
// position. Subpredictors right at random rates drift apart; ones that copy a
// shared pattern but for a few places stay within a few points of each other
// (long contests, ties, takeovers back and forth, ahead of and behind the
// winner in index order); some are never right. Blocks of every length.
void check_scoreboard() {
    std::mt19937_64 rng(2050);
    bool ok = true;
    std::uniform_real_distribution<double> unit(0, 1);
    for (int round = 0; round < 400 && ok; ++round) {
        const unsigned counts[] = {1, 2, 3, 4, 5, 16, 21, 128};
        const unsigned count = counts[round % 8];
        std::vector<int> kind(count);
        for (unsigned j = 0; j < count; ++j) kind[j] = static_cast<int>(rng() % 4);
        sp::Scoreboard board(count, round % 2 == 1);  // vectors where there are many, or not
        sp800_reference::Board naive(count);
        std::vector<std::uint64_t> hits(count);
        for (int block = 0; block < 150 && ok; ++block) {
            const unsigned len = round % 3 == 0 ? 64 : 1 + static_cast<unsigned>(rng() % 64);
            const std::uint64_t shared = rng();
            for (unsigned j = 0; j < count; ++j) {
                std::uint64_t h = 0;
                if (kind[j] == 0) {
                    for (unsigned t = 0; t < 64; ++t) h |= std::uint64_t{unit(rng) < 0.5} << t;
                } else if (kind[j] == 1) {
                    h = shared;
                    for (int f = static_cast<int>(rng() % 4); f > 0; --f) h ^= std::uint64_t{1} << (rng() % len);
                } else if (kind[j] == 2) {
                    h = shared & (rng() | rng());  // behind the copies, and catching up when they miss
                    if (block % 8 == 0) h = ~std::uint64_t{0};
                }
                hits[j] = h | (len < 64 ? rng() << len : 0);  // bits past len are not outcomes
            }
            const std::uint64_t right = board.play(hits.data(), len);
            std::uint64_t expected = 0;
            for (unsigned t = 0; t < len; ++t) {
                std::vector<int> sub(count);
                for (unsigned j = 0; j < count; ++j) sub[j] = static_cast<int>((hits[j] >> t) & 1);
                expected |= std::uint64_t(naive.round(sub, 1)) << t;
            }
            const std::uint64_t all = len == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << len) - 1;
            ok = (right & all) == expected && board.winner() == naive.winner;
            if (!ok) std::fprintf(stderr, "  scoreboard: round %d block %d count %u len %u\n", round, block, count, len);
        }
    }
    CHECK(ok);
}

// The flat tables of bits, with vector instructions where the processor has
// them and without, against the dictionaries of wider symbols, which count the
// same contexts by other means, on inputs too long for the naive model (and
// Lag with vectors and without): random bits (LZ78Y's dictionary fills after some 25,000, MultiMMC's
// order 16 after some 190,000), biased and sticky ones (they never fill it),
// and random bits turning periodic, constant or repetitive once it is full
// (contexts it refused come back, alone and among the admitted). Sizes around
// where it fills; the long form adds longer and more varied ones.
void check_bit_tables(bool long_form) {
    using Counted = sp::Prediction (*)(sp::Symbols, sp::Counters, sp::BitTables);
    const Counted counted[] = {sp::multi_mmc, sp::lz78y};
    std::mt19937_64 rng(2060);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<Seq> inputs;
    const std::size_t sizes[] = {24000, 26000, 30000, 60000, 250000};
    for (std::size_t round = 0; round < (long_form ? 20u : 5u); ++round) {
        const std::size_t n = long_form && round % 5 == 4 ? 1000000 : sizes[round % 5];
        Seq random(n), biased(n), sticky(n), turning(n);
        unsigned bit = 0;
        const std::size_t turn = n / 3 + rng() % (n / 3);
        const std::size_t period = 1 + rng() % 40;
        for (std::size_t i = 0; i < n; ++i) {
            random[i] = rng() & 1;
            biased[i] = unit(rng) < 0.2;
            if (unit(rng) < 0.1) bit ^= 1;
            sticky[i] = static_cast<std::uint8_t>(bit);
            turning[i] = i < turn ? random[i] : round % 3 == 0 ? (i % period == 0) : round % 3 == 1 ? 0 : turning[i - turn / 2];
        }
        inputs.insert(inputs.end(), {random, biased, sticky, turning});
    }
    // Random bits until MultiMMC's order 16 nearly holds its 100,000 pairs, then
    // over and over a cycle only order 16 predicts (right once it has counted
    // a context's successor a few times): the pairs it still admits decide.
    for (std::size_t lead : {150000, 175000}) {
        Seq s(lead);
        for (auto& b : s) b = rng() & 1;
        const Seq cycle = de_bruijn(2, 16);
        for (int r = 0; r < 4; ++r) s.insert(s.end(), cycle.begin(), cycle.end());
        inputs.push_back(s);
    }
    for (const Seq& s : inputs) {
        const sp::Prediction lag = sp::lag({s.data(), s.size(), 2}, false), plain = sp::lag({s.data(), s.size(), 2}, true);
        CHECK(lag.c == plain.c && lag.r == plain.r && lag.n == plain.n);
        for (Counted f : counted) {
            const sp::Prediction dict = f({s.data(), s.size(), 2}, sp::Counters::fitted, sp::BitTables::dictionary);
            for (sp::BitTables b : {sp::BitTables::flat, sp::BitTables::portable}) {
                const sp::Prediction flat = f({s.data(), s.size(), 2}, sp::Counters::fitted, b);
                const bool ok = flat.c == dict.c && flat.r == dict.r && flat.n == dict.n;
                if (!ok) {
                    std::fprintf(stderr, "  bit tables differ: n=%zu C %llu/%llu r %llu/%llu\n", s.size(),
                                 (unsigned long long)flat.c, (unsigned long long)dict.c, (unsigned long long)flat.r,
                                 (unsigned long long)dict.r);
                }
                CHECK(ok);
            }
        }
    }
}

// MultiMCW on bits whose share of ones drifts from stretch to stretch: the
// long windows' counts far above or below half (the counts the short ones
// reach in a block of 64 tell their modes nothing), each window right where
// the others are wrong; and alternating bits (every window always wrong) until
// the longest is full, then bits a little more often one than the other, where
// the longest window, its count some 150 off half, wins where it is as right as
// the others. Against the naive model.
void check_drifting_windows() {
    std::mt19937_64 rng(2070);
    std::uniform_real_distribution<double> unit(0, 1);
    for (double share : {0.535, 0.465}) {
        Seq s(20000);
        for (std::size_t i = 0; i < s.size(); ++i) s[i] = i < 4200 ? i % 2 : unit(rng) < share;
        CHECK(same_as_naive(PREDICTORS[0], s, 2));
    }
    const double shares[] = {0.0, 0.02, 0.1, 0.3, 0.45, 0.55, 0.7, 0.9, 0.98, 1.0};
    for (int round = 0; round < 6; ++round) {
        Seq s;
        while (s.size() < 14000) {
            const double share = shares[rng() % 10];
            const std::size_t stretch = 50 + rng() % (round < 3 ? 500 : 5000);
            for (std::size_t i = 0; i < stretch; ++i) s.push_back(unit(rng) < share);
        }
        CHECK(same_as_naive(PREDICTORS[0], s, 2));
    }
}

}  // namespace

int run_sp800_bit_predictor_tests(bool long_form) {
    passed = failed = 0;
    check_scoreboard();
    check_bit_tables(long_form);
    check_drifting_windows();
    std::printf("sp800_bit_predictors: %d passed, %d failed\n", passed, failed);
    return failed;
}
