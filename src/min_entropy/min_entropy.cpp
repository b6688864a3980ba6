#include "min_entropy/min_entropy.hpp"

#include <algorithm>
#include <cmath>

#include "util/count_bytes.hpp"

namespace veltrane::min_entropy {

double min_entropy(const std::uint8_t* data, std::size_t n) {
    if (n == 0) return 0.0;
    const util::ByteHistogram counts = util::count_bytes(data, n);
    const std::uint64_t most = *std::max_element(counts.begin(), counts.end());
    const double r = std::log2(static_cast<double>(most) / static_cast<double>(n));
    return -r;  // flips the sign bit: log2(1) = +0.0 becomes -0.0
}

}  // namespace veltrane::min_entropy
