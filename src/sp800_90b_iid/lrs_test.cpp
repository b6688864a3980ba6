#include "sp800_90b_iid/lrs_test.hpp"

#include <cmath>
#include <vector>

#include "pool/cancel.hpp"
#include "sp800_90b/suffix_tuples.hpp"
#include "sp800_90b_iid/proportions.hpp"

namespace veltrane::sp800_90b::iid {

LrsTest lrs_test(const SampleFacts& facts, const std::uint8_t* raw) {
    LrsTest t;
    for (double p : added_proportions(rank_counts(facts, raw), facts.n)) {
        t.p_col += static_cast<long double>(p) * static_cast<long double>(p);
    }
    // The longest repeat is the same over the ranks as over the raw values; the
    // suffix sort wants the alphabet 0..k-1 (bits for binary data).
    std::vector<std::uint8_t> ranks(facts.n);
    for (std::size_t i = 0; i < facts.n; ++i) {
        if ((i & 0xFFFF) == 0) pool::checkpoint();
        ranks[i] = facts.alphabet.rank[raw[i]];
    }
    const unsigned k = facts.alphabet.k < 2 ? 2 : facts.alphabet.k;
    t.w = count_tuples({ranks.data(), ranks.size(), k}).longest_repeat;
    const long double length = static_cast<long double>(facts.n) - static_cast<long double>(t.w);
    const long double pairs = (length + 1.0L) * length / 2.0L;  // C(L - W + 1, 2)
    const long double log_none = pairs * std::log1p(-std::pow(t.p_col, static_cast<long double>(t.w)));
    t.probability = 1.0L - std::exp(log_none);
    t.passed = std::log(0.999L) >= log_none;
    return t;
}

}  // namespace veltrane::sp800_90b::iid
