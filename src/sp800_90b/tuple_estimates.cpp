// 6.3.5 (t-Tuple) and 6.3.6 (LRS) from the tuple counts of one suffix sort.
#include <algorithm>
#include <cmath>

#include "pool/cancel.hpp"
#include "sp800_90b/bounds.hpp"
#include "sp800_90b/entropy_of.hpp"
#include "sp800_90b/estimators.hpp"
#include "sp800_90b/suffix_tuples.hpp"

namespace veltrane::sp800_90b {

namespace {

// t-Tuple uses the tuple lengths whose most frequent tuple occurs this often.
constexpr std::uint64_t TUPLE_CUTOFF = 35;

}  // namespace

Tuples tuple_estimates(Symbols s) { return tuple_estimates_of(count_tuples(s), s.n); }

Tuples tuple_estimates_of(const TupleCounts& counts, std::uint64_t samples) {
    const double n = static_cast<double>(samples);
    // top[] falls with the length, so t is where it drops below the cutoff.
    std::uint64_t t = 0;
    while (t < counts.top.size() && counts.top[t] >= TUPLE_CUTOFF) ++t;

    Tuples out;
    if (t > 0) {
        TTuple tt;
        tt.t = t;
        for (std::uint64_t i = 1; i <= t; ++i) {
            const double share = static_cast<double>(counts.top[i - 1]) / (n - static_cast<double>(i) + 1.0);
            tt.p_hat_max = std::max(tt.p_hat_max, std::pow(share, 1.0 / static_cast<double>(i)));
        }
        // The bound counts samples, not tuples.
        tt.p_u = upper_bound(tt.p_hat_max, samples);
        tt.min_entropy = min_entropy_of(tt.p_u);
        out.t_tuple = tt;
    }
    // LRS takes the lengths t-Tuple left out, up to the longest repeat.
    const std::uint64_t u = t + 1, v = counts.longest_repeat;
    if (u <= v) {
        LongestRepeatedSubstring lrs;
        lrs.u = u;
        lrs.v = v;
        for (std::uint64_t w = u; w <= v; ++w) {
            if ((w & 0xFFFF) == 0) pool::checkpoint();  // v reaches n on constant data
            const double tuples = n - static_cast<double>(w) + 1.0;
            const double share = counts.pairs[w - 1] / (tuples * (tuples - 1.0) / 2.0);
            lrs.p_hat = std::max(lrs.p_hat, std::pow(share, 1.0 / static_cast<double>(w)));
        }
        lrs.p_u = upper_bound(lrs.p_hat, samples);
        lrs.min_entropy = min_entropy_of(lrs.p_u);
        out.lrs = lrs;
    }
    return out;
}

}  // namespace veltrane::sp800_90b
