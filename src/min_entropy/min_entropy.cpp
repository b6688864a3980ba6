#include "min_entropy/min_entropy.hpp"

#include <algorithm>
#include <cmath>

#include "util/count_bytes.hpp"

namespace veltrane::min_entropy {

double min_entropy_of_counts(const std::uint64_t* counts, std::size_t bins, std::uint64_t total) {
    const std::uint64_t most = *std::max_element(counts, counts + bins);
    const double r = std::log2(static_cast<double>(most) / static_cast<double>(total));
    return -r;  // flips the sign bit: log2(1) = +0.0 becomes -0.0
}

double min_entropy(const std::uint8_t* data, std::size_t n) {
    if (n == 0) return 0.0;
    const util::ByteHistogram counts = util::count_bytes(data, n);
    return min_entropy_of_counts(counts.data(), counts.size(), n);
}

}  // namespace veltrane::min_entropy
