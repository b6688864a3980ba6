#include "battery/bit_entropy.hpp"

#include <cmath>
#include <numbers>
#include <vector>

#include "shannon_entropy/func.hpp"

namespace veltrane::battery {

double expected_random_bit_entropy_by_sum(std::uint64_t n) {
    // Binomial weights relative to the middle one, by the ratio
    // C(n, j+1) / C(n, j) = (n - j) / (j + 1) outwards, and normalised by their
    // own sum: no factorial or power of 2 is ever formed (2^-n underflows from
    // n = 1075 on), and the rounding stays near n * 2^-64. H(j/n) goes through
    // the same function as every other entropy.
    const std::uint64_t mid = n / 2;
    std::vector<long double> weight(n + 1);
    weight[mid] = 1;
    for (std::uint64_t j = mid; j < n; ++j) weight[j + 1] = weight[j] * (n - j) / (j + 1);
    for (std::uint64_t j = mid; j > 0; --j) weight[j - 1] = weight[j] * j / (n - j + 1);
    long double total = 0, sum = 0;
    for (std::uint64_t j = 0; j <= n; ++j) {
        const std::uint64_t counts[2] = {j, n - j};
        total += weight[j];
        sum += weight[j] * shannon_entropy::entropy_of_counts(counts, 2, n);
    }
    return static_cast<double>(sum / total);
}

double expected_random_bit_entropy_by_series(std::uint64_t n) {
    // h(1/2 + d) = ln 2 - sum_k (2d)^(2k) / (2k (2k - 1)) in nats, and for
    // d = X/n - 1/2: E[(2d)^2] = 1/n, E[(2d)^4] = (3n - 2)/n^3,
    // E[(2d)^6] = (15n^2 - 30n + 16)/n^5, E[(2d)^8] = 105/n^4 + O(n^-5).
    const long double x = static_cast<long double>(n);
    const long double m2 = 1 / x;
    const long double m4 = (3 * x - 2) / (x * x * x);
    const long double m6 = (15 * x * x - 30 * x + 16) / (x * x * x * x * x);
    const long double m8 = 105 / (x * x * x * x);
    const long double loss = m2 / 2 + m4 / 12 + m6 / 30 + m8 / 56;
    return static_cast<double>(1 - loss / std::numbers::ln2_v<long double>);
}

double expected_random_bit_entropy(std::uint64_t n) {
    return n < BIT_EXPECTATION_SERIES_FROM ? expected_random_bit_entropy_by_sum(n)
                                           : expected_random_bit_entropy_by_series(n);
}

}  // namespace veltrane::battery
