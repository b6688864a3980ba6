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

namespace {

MostCommonValue from_mode(std::uint64_t mode_count, std::uint64_t n) {
    MostCommonValue r;
    r.mode_count = mode_count;
    r.p_hat = static_cast<double>(mode_count) / static_cast<double>(n);
    r.p_u = upper_bound(r.p_hat, n);
    r.min_entropy = min_entropy_of(r.p_u);
    return r;
}

}  // namespace

unsigned checked_width(const std::uint8_t* data, std::size_t n, std::optional<unsigned> declared) {
    if (n == 0) throw std::invalid_argument("no samples to assess");
    if (declared && (*declared < 1 || *declared > MAX_WIDTH)) {
        throw std::invalid_argument("bits_per_symbol must be from 1 to 8, not " + std::to_string(*declared));
    }
    const unsigned needed = inferred_width(data, n);
    if (declared && needed > *declared) {
        const unsigned largest = *std::max_element(data, data + n);
        throw std::invalid_argument("a sample of value " + std::to_string(largest) + " does not fit in " +
                                    std::to_string(*declared) + " bits per symbol");
    }
    return declared.value_or(needed);
}

void check_seed(const Seed& seed) {
    if (!usable(seed)) throw std::invalid_argument("the seed must not be all zeros (the generator would draw only zeros)");
}

IidAssessment assess_iid(const std::uint8_t* data, std::size_t n, std::optional<unsigned> width, const Seed& seed,
                         bool conditioned, std::uint64_t* rounds_counted, std::uint64_t max_rounds) {
    IidAssessment a;
    a.width = checked_width(data, n, width);
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
    a.literal = from_mode(mode, n);
    a.initial_entropy = a.literal.min_entropy;
    if (a.width > 1) {
        const std::uint64_t bits = static_cast<std::uint64_t>(n) * a.width;
        a.bitstring = from_mode(std::max(ones, bits - ones), bits);
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
