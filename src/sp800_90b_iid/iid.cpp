#include "sp800_90b_iid/iid.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "sp800_90b/assessment.hpp"
#include "sp800_90b/bounds.hpp"
#include "sp800_90b/entropy_of.hpp"
#include "util/count_bytes.hpp"
#include "util/popcount.hpp"

namespace veltrane::sp800_90b::iid {

void check_seed(const Seed& seed) {
    if (!usable(seed)) throw std::invalid_argument("the seed must not be all zeros (the generator would draw only zeros)");
}

IidAssessment assess_iid(const std::uint8_t* data, std::size_t n, std::optional<unsigned> width, const Seed& seed,
                         bool conditioned, std::uint64_t* rounds_counted, std::uint64_t max_rounds) {
    IidAssessment a;
    a.width = sp800_90b::checked_width(data, n, width);
    check_seed(seed);
    a.samples = n;
    a.conditioned = conditioned;
    const SampleFacts facts = facts_of(data, n);
    a.distinct = facts.alphabet.k;
    a.mean = facts.mean;
    a.median = facts.median;

    std::uint64_t mode = 0, ones = 0;
    {
        const auto counts = util::count_bytes(data, n);
        for (unsigned v = 0; v < 256; ++v) {
            mode = std::max(mode, counts[v]);
            ones += counts[v] * util::popcount64(v);
        }
    }
    a.literal = most_common_value_of(mode, n);
    a.initial_entropy = a.literal.min_entropy;
    if (a.width > 1) {
        const std::uint64_t bits = static_cast<std::uint64_t>(n) * a.width;
        a.bitstring = most_common_value_of(std::max(ones, bits - ones), bits);
        a.initial_entropy = conditioned ? a.bitstring->min_entropy
                                        : std::min(a.literal.min_entropy, a.width * a.bitstring->min_entropy);
    }

    a.chi_square = chi_square_tests(facts, data);
    a.lrs = lrs_test(facts, data);
    Xoshiro256 rng(seed);
    a.permutation = permutation_test(facts, data, rng, max_rounds, rounds_counted);
    return a;
}

}  // namespace veltrane::sp800_90b::iid
