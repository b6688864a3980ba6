#include "sp800_22/plan.hpp"

#include <cmath>
#include <stdexcept>
#include <string>

#include "sp800_22/catalogue.hpp"
#include "sp800_22/longest_run.hpp"
#include "sp800_22/rank.hpp"
#include "sp800_22/universal.hpp"

namespace veltrane::sp800_22 {

namespace {

// The limits of each parameter that do not depend on the length.
constexpr unsigned LARGEST_TEMPLATE = 16, LARGEST_OVERLAP_TEMPLATE = 32, LARGEST_PATTERN = 20;
constexpr unsigned MOST_BLOCKS = 100;
constexpr std::uint64_t LEAST_COMPLEXITY_BLOCK = 500, MOST_COMPLEXITY_BLOCK = 5000;

std::string number(std::uint64_t v) { return std::to_string(v); }

[[noreturn]] void refuse(const std::string& message) { throw std::invalid_argument(message); }

void within(const char* name, std::uint64_t value, std::uint64_t low, std::uint64_t high) {
    if (value < low || value > high) {
        refuse(std::string(name) + " must be from " + number(low) + " to " + number(high) + ", not " + number(value));
    }
}

class Planner {
public:
    Planner(std::uint64_t n, bool every, bool compatible, Plan& plan) : n_(n), every_(every), compatible_(compatible), plan_(plan) {}

    // Whether `test` can run on sequences of n bits, needing `least` of them;
    // otherwise refuses, or leaves it out when the caller named no test.
    bool long_enough(Test test, std::uint64_t least, const std::string& why) {
        if (n_ >= least) return true;
        const std::string name(TEST_NAMES[index_of(test)].name);
        const std::string message = name + " needs sequences of at least " + number(least) + " bits (" + why +
                                    "), not " + number(n_);
        if (!every_) refuse(message);
        plan_.notes.push_back(message + ": left out");
        plan_.tests &= ~bit_of(test);
        return false;
    }
    void recommend(Test test, bool met, const std::string& what) {
        if (!met) plan_.notes.push_back(std::string(TEST_NAMES[index_of(test)].name) + ": " + what);
    }
    void differs(Test test, const std::string& what) {
        if (!compatible_) plan_.differences.push_back(std::string(TEST_NAMES[index_of(test)].name) + ": " + what);
    }

private:
    std::uint64_t n_;
    bool every_, compatible_;
    Plan& plan_;
};

}  // namespace

Plan plan_run(std::uint64_t length, std::uint32_t tests, bool every, const Parameters& given, bool compatible) {
    if (length == 0) refuse("length must be at least 1 bit");
    if ((tests & ~ALL_TESTS) != 0 || tests == 0) refuse("tests must name at least one of the fifteen tests");
    Plan plan;
    plan.length = length;
    plan.tests = tests;
    plan.settings.compatible = compatible;
    Parameters& p = plan.settings.parameters;
    p = given;
    const std::uint64_t n = length;
    Planner check(n, every, compatible, plan);
    auto wanted = [&](Test t) { return (plan.tests & bit_of(t)) != 0; };

    if (wanted(Test::frequency)) check.recommend(Test::frequency, n >= 100, "the standard recommends at least 100 bits");
    if (wanted(Test::block_frequency)) {
        within("block_frequency_block_length", p.block_frequency_block_length, 1, ~std::uint64_t{0});
        if (check.long_enough(Test::block_frequency, p.block_frequency_block_length, "one block")) {
            const std::uint64_t blocks = n / p.block_frequency_block_length;
            check.recommend(Test::block_frequency,
                            n >= 100 && p.block_frequency_block_length >= 20 &&
                                static_cast<double>(p.block_frequency_block_length) > 0.01 * static_cast<double>(n) &&
                                blocks < 100,
                            "the standard recommends n >= 100, M >= 20, M > n/100 and fewer than 100 blocks");
        }
    }
    if (wanted(Test::cumulative_sums))
        check.recommend(Test::cumulative_sums, n >= 100, "the standard recommends at least 100 bits");
    if (wanted(Test::runs)) check.recommend(Test::runs, n >= 100, "the standard recommends at least 100 bits");
    if (wanted(Test::longest_run)) {
        if (p.longest_run_block_length == 0) p.longest_run_block_length = longest_run_block_length_for(n);
        if (!longest_run_block_length_known(p.longest_run_block_length)) {
            refuse("longest_run_block_length must be 8, 128 or 10000, not " + number(p.longest_run_block_length));
        }
        const std::uint64_t m = p.longest_run_block_length;
        if (check.long_enough(Test::longest_run, m, "one block")) {
            const std::uint64_t least = m == 8 ? 128 : m == 128 ? 6272 : 750000;
            check.recommend(Test::longest_run, n >= least,
                            "the standard recommends at least " + number(least) + " bits for blocks of " + number(m));
        }
        if (m == 10000) {
            check.differs(Test::longest_run,
                          "exact class probabilities (0.0866 for a longest run of at most 10); the standard's table "
                          "and NIST's program have an approximation (0.0882)");
        }
    }
    if (wanted(Test::rank) && check.long_enough(Test::rank, MATRIX_BITS, "one 32 x 32 matrix")) {
        check.recommend(Test::rank, n >= 38 * MATRIX_BITS, "the standard recommends at least 38,912 bits (38 matrices)");
    }
    if (wanted(Test::dft) && check.long_enough(Test::dft, 2, "one coefficient")) {
        check.recommend(Test::dft, n >= 1000, "the standard recommends at least 1,000 bits");
    }
    if (wanted(Test::non_overlapping_template)) {
        within("non_overlapping_template_length", p.non_overlapping_template_length, 2, LARGEST_TEMPLATE);
        within("non_overlapping_blocks", p.non_overlapping_blocks, 1, MOST_BLOCKS);
        const std::uint64_t m = p.non_overlapping_template_length, blocks = p.non_overlapping_blocks;
        if (check.long_enough(Test::non_overlapping_template, m * blocks, "blocks at least as long as the template")) {
            check.recommend(Test::non_overlapping_template, m == 9 || m == 10,
                            "the standard recommends templates of 9 or 10 bits");
            check.recommend(Test::non_overlapping_template,
                            static_cast<double>(n / blocks) > 0.01 * static_cast<double>(n),
                            "the standard recommends blocks longer than n/100");
        }
    }
    if (wanted(Test::overlapping_template)) {
        within("overlapping_template_length", p.overlapping_template_length, 2, LARGEST_OVERLAP_TEMPLATE);
        within("overlapping_block_length", p.overlapping_block_length, p.overlapping_template_length,
               ~std::uint64_t{0});
        if (check.long_enough(Test::overlapping_template, p.overlapping_block_length, "one block")) {
            check.recommend(Test::overlapping_template, n >= 1000000, "the standard recommends at least 10^6 bits");
        }
        check.differs(Test::overlapping_template,
                      "exact class probabilities (the standard's corrected values, 0.364091 for no occurrence); "
                      "NIST's program keeps the first revision's approximation (0.367879)");
    }
    if (wanted(Test::universal)) {
        unsigned& l = p.universal_block_length;
        if (l == 0) l = universal_block_length_for(n);
        if (l == 0) {
            if (compatible) {
                // NIST's program runs it all the same, reports an error and a p-value of 0:
                // L stays 0, which the tests read as not applicable.
                plan.notes.push_back("universal: sequences of " + number(n) +
                                     " bits are below the 387,840 the test needs; as NIST's program does, it reports "
                                     "p = 0 for every sequence");
            } else {
                check.long_enough(Test::universal, 387840, "the standard's shortest input, for L = 6");
            }
        } else {
            within("universal_block_length", l, UNIVERSAL_SMALLEST_L, UNIVERSAL_LARGEST_L);
            std::uint64_t& q = p.universal_initial_blocks;
            const std::uint64_t least_q = 10 * (std::uint64_t{1} << l);
            if (q == 0) q = least_q;
            within("universal_initial_blocks", q, least_q, ~std::uint64_t{0});
            check.long_enough(Test::universal, (q + 1) * l, "Q + 1 blocks of L bits");
        }
    }
    if (wanted(Test::approximate_entropy)) {
        within("approximate_entropy_block_length", p.approximate_entropy_block_length, 1, LARGEST_PATTERN);
        const double log2n = std::floor(std::log2(static_cast<double>(n)));
        check.recommend(Test::approximate_entropy, p.approximate_entropy_block_length < log2n - 5,
                        "the standard recommends m < log2(n) - 5");
    }
    if (wanted(Test::serial)) {
        within("serial_block_length", p.serial_block_length, 2, LARGEST_PATTERN);
        const double log2n = std::floor(std::log2(static_cast<double>(n)));
        check.recommend(Test::serial, p.serial_block_length < log2n - 2, "the standard recommends m < log2(n) - 2");
    }
    if (wanted(Test::linear_complexity)) {
        within("linear_complexity_block_length", p.linear_complexity_block_length, LEAST_COMPLEXITY_BLOCK,
               MOST_COMPLEXITY_BLOCK);
        const std::uint64_t m = p.linear_complexity_block_length;
        if (check.long_enough(Test::linear_complexity, m, "one block")) {
            check.recommend(Test::linear_complexity, n / m >= 200 && n >= 1000000,
                            "the standard recommends at least 10^6 bits and 200 blocks");
        }
        check.differs(Test::linear_complexity,
                      "the first class probability is 1/96 (the standard's 0.010417); NIST's program has 0.01047");
    }
    for (Test t : {Test::random_excursions, Test::random_excursions_variant}) {
        if (wanted(t)) check.recommend(t, n >= 1000000, "the standard recommends at least 10^6 bits");
    }
    if (wanted(Test::random_excursions)) {
        check.differs(Test::random_excursions,
                      "exact class probabilities; NIST's program's table rounds them to ten decimals "
                      "(5/6 as 0.8333333333), which can move a chi-square's sixth decimal");
    }
    if (plan.tests == 0) refuse("no test can run on sequences of " + number(n) + " bits");
    if (!compatible) {
        plan.differences.push_back(
            "second level: p-values binned and compared with 0.01 as computed; NIST's program reads back the six "
            "decimals it printed");
        plan.differences.push_back(
            "second level: the proportion passing must lie within the standard's interval, on both sides; NIST's "
            "program accepts any count of passes from the interval's lower end times the sequences, truncated");
        plan.differences.push_back(
            "second level: uniformity expects m/10 p-values per bin and is judged from 55 sequences on, as the "
            "standard says; NIST's program divides integers (wrong unless m is a multiple of 10) and judges from 10");
    }
    return plan;
}

}  // namespace veltrane::sp800_22
