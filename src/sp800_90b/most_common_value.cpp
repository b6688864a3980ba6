// 6.3.1: the share of the most frequent symbol, bounded above.
#include <algorithm>
#include <cmath>

#include "sp800_90b/bounds.hpp"
#include "sp800_90b/entropy_of.hpp"
#include "sp800_90b/estimators.hpp"
#include "util/count_bytes.hpp"

namespace veltrane::sp800_90b {

MostCommonValue most_common_value(Symbols s) {
    if (s.n == 0) return {};  // nothing observed: every figure stays 0
    const util::ByteHistogram hist = util::count_bytes(s.data, s.n);
    return most_common_value_of(*std::max_element(hist.begin(), hist.end()), s.n);
}

MostCommonValue most_common_value_of(std::uint64_t mode_count, std::uint64_t n) {
    MostCommonValue r;
    if (n == 0) return r;
    r.mode_count = mode_count;
    r.p_hat = static_cast<double>(r.mode_count) / static_cast<double>(n);
    // One sample: p_hat is 1 and the bound's 0/0 gives way to min(1, NaN) = 1.
    r.p_u = upper_bound(r.p_hat, n);
    r.min_entropy = min_entropy_of(r.p_u);
    return r;
}

}  // namespace veltrane::sp800_90b
