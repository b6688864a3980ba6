#include "sp800_22/frequency_tests.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "pool/cancel.hpp"
#include "sp800_22/special_functions.hpp"
#include "sp800_22/walk_steps.hpp"
#include "util/popcount.hpp"

namespace veltrane::sp800_22 {

std::uint64_t ones_between(const Bits& bits, std::uint64_t begin, std::uint64_t end) {
    std::uint64_t count = 0;
    for (std::uint64_t at = begin; at < end; at += 64) {
        std::uint64_t w = bits.window(at);
        if (end - at < 64) w &= ~std::uint64_t{0} << (64 - (end - at));
        count += util::popcount64(w);
    }
    return count;
}

FrequencyFigures frequency_test(const Bits& bits) {
    const auto n = static_cast<std::int64_t>(bits.size());
    FrequencyFigures f;
    f.sum = 2 * static_cast<std::int64_t>(bits.ones()) - n;
    f.ratio = static_cast<double>(f.sum) / static_cast<double>(n);
    const double s_obs = std::fabs(static_cast<double>(f.sum)) / std::sqrt(static_cast<double>(n));
    f.p_value = std::erfc(s_obs / std::sqrt(2.0));
    return f;
}

BlockFrequencyFigures block_frequency_test(const Bits& bits, std::uint64_t block_length) {
    BlockFrequencyFigures f;
    f.block_length = block_length;
    f.blocks = bits.size() / block_length;
    f.discarded = bits.size() % block_length;
    const auto m = static_cast<double>(block_length);
    double sum = 0.0;
    for (std::uint64_t b = 0; b < f.blocks; ++b) {
        if ((b & 0x3FF) == 0) pool::checkpoint();
        const double pi = static_cast<double>(ones_between(bits, b * block_length, (b + 1) * block_length)) / m;
        sum += (pi - 0.5) * (pi - 0.5);
    }
    f.chi_square = 4.0 * m * sum;
    f.p_value = igamc(static_cast<double>(f.blocks) / 2.0, f.chi_square / 2.0);
    return f;
}

RunsFigures runs_test(const Bits& bits) {
    const std::uint64_t n = bits.size();
    const auto nd = static_cast<double>(n);
    RunsFigures f;
    f.pi = static_cast<double>(bits.ones()) / nd;
    // The frequency test's verdict decides whether the runs mean anything.
    if (std::fabs(f.pi - 0.5) >= 2.0 / std::sqrt(nd)) {
        f.prerequisite = false;
        f.p_value = 0.0;
        return f;
    }
    // A run ends wherever a bit differs from the next.
    std::uint64_t changes = 0;
    for (std::uint64_t at = 0; at + 1 < n; at += 64) {
        std::uint64_t differ = bits.window(at) ^ bits.window(at + 1);
        if (n - 1 - at < 64) differ &= ~std::uint64_t{0} << (64 - (n - 1 - at));
        changes += util::popcount64(differ);
    }
    f.runs = changes + 1;
    const double spread = f.pi * (1.0 - f.pi);
    f.statistic = std::fabs(static_cast<double>(f.runs) - 2.0 * nd * spread) / (2.0 * std::sqrt(2.0 * nd) * spread);
    f.p_value = std::erfc(f.statistic);
    return f;
}

CumulativeSumsFigures cumulative_sums_test(const Bits& bits) {
    const WalkExtremes e = walk_extremes(bits);
    CumulativeSumsFigures f;
    // Forward: the largest |S_k|. Backward: the partial sums of the reversed
    // sequence are S_n - S_j, largest where S_j is furthest from S_n.
    f.forward_max = std::max(e.highest, -e.lowest);
    f.backward_max = std::max(e.end - e.lowest, e.highest - e.end);
    const auto n = static_cast<std::int64_t>(bits.size());
    f.p_forward = cumulative_sums_p_value(n, f.forward_max);
    f.p_backward = cumulative_sums_p_value(n, f.backward_max);
    return f;
}

double cumulative_sums_p_value(std::int64_t n, std::int64_t z) {
    const double root_n = std::sqrt(static_cast<double>(n));
    auto phi = [&](std::int64_t k) { return normal_cdf(static_cast<double>(k * z) / root_n); };
    // The sums run over the whole k within the bounds of the standard's
    // formula; C's division of integers (towards zero) rounds each bound inwards
    // exactly as the real-valued bounds are.
    double first = 0.0;
    for (std::int64_t k = (-n / z + 1) / 4; k <= (n / z - 1) / 4; ++k) first += phi(4 * k + 1) - phi(4 * k - 1);
    double second = 0.0;
    for (std::int64_t k = (-n / z - 3) / 4; k <= (n / z - 1) / 4; ++k) second += phi(4 * k + 3) - phi(4 * k + 1);
    return 1.0 - first + second;
}

}  // namespace veltrane::sp800_22
