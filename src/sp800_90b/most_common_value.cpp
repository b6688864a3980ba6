// 6.3.1: the share of the most frequent symbol, bounded above.
#include <algorithm>
#include <cmath>

#include "sp800_90b/bounds.hpp"
#include "sp800_90b/entropy_of.hpp"
#include "sp800_90b/estimators.hpp"
#include "util/count_bytes.hpp"

namespace veltrane::sp800_90b {

MostCommonValue most_common_value(Symbols s) {
    MostCommonValue r;
    if (s.n == 0) return r;  // nothing observed: every figure stays 0
    const util::ByteHistogram hist = util::count_bytes(s.data, s.n);
    r.mode_count = *std::max_element(hist.begin(), hist.end());
    r.p_hat = static_cast<double>(r.mode_count) / static_cast<double>(s.n);
    // One sample: p_hat is 1 and the bound's 0/0 gives way to min(1, NaN) = 1.
    r.p_u = upper_bound(r.p_hat, s.n);
    r.min_entropy = min_entropy_of(r.p_u);
    return r;
}

}  // namespace veltrane::sp800_90b
