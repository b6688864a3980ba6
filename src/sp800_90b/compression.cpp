// 6.3.4 on bits: how far back each 6-bit block was last seen, compared with
// the mean log-distance a source of a given most likely block would give.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "pool/cancel.hpp"
#include "sp800_90b/bit_input.hpp"
#include "sp800_90b/bounds.hpp"
#include "sp800_90b/entropy_of.hpp"
#include "sp800_90b/estimators.hpp"

namespace veltrane::sp800_90b {

namespace {

constexpr unsigned BLOCK_BITS = 6;
constexpr std::uint64_t BLOCK_VALUES = 1u << BLOCK_BITS;
constexpr std::uint64_t DICTIONARY_BLOCKS = 1000;  // blocks that only seed the table
constexpr double SIGMA_FACTOR = 0.5907;
// How close below the target the root search stops (relative), as NIST's tool does.
constexpr long double STOP_BELOW_TARGET = 1e-15L;
// Distances below this are counted, the longer ones summed as they come.
constexpr std::uint64_t SHORT_DISTANCES = 1u << 16;

// log2(u) for u = 0, 1, 2, ..., extended on demand: the expectation below
// evaluates it at the same arguments in every step of the root search.
class Log2Table {
public:
    long double operator()(std::uint64_t u) { return up_to(u + 1)[u]; }
    // The table with at least `end` entries.
    const long double* up_to(std::uint64_t end) {
        while (values_.size() < end) values_.push_back(std::log2(static_cast<long double>(values_.size())));
        return values_.data();
    }

private:
    std::vector<long double> values_{0.0L};
};

// G(z) of the standard: the mean over the v tested blocks t = d+1..L of the
// expected log2 distance for a block value of probability z,
//   G(z) = 1/v sum_t [ sum_{u<t} log2(u) z^2 (1-z)^(u-1) + log2(t) z (1-z)^(t-1) ].
// Swapping the sums makes it one pass over u: the first kind of term appears
// for every t > u, that is L - max(d, u) times. The terms fall off like
// (1-z)^u, so the pass stops once a bound of the whole rest is negligible;
// where it cannot (z tiny, p near 1) four interleaved products keep it fast.
// Long double throughout: (1-z)^u carries u times the rounding of 1-z, which
// in double reaches 1e-13 over the thousands of terms that count, and near
// p = 1/64, where G is flat, that much moves the root by far more than 1e-10.
long double expected_log_distance(long double z, std::uint64_t blocks, Log2Table& log2_of) {
    if (z <= 0.0L) return 0.0L;
    const std::uint64_t d = DICTIONARY_BLOCKS, L = blocks;
    const long double decay = 1.0L - z, decay4 = (decay * decay) * (decay * decay);
    const long double heaviest = std::log2(static_cast<long double>(L)) * (z * z * static_cast<long double>(L) + z) / z;
    auto weight = [&](std::uint64_t u) {
        long double w = 0.0L;
        if (u < L) w += z * z * static_cast<long double>(L - std::max(d, u));
        if (u > d) w += z;
        return w;
    };
    constexpr std::uint64_t BLOCK = 256;
    long double sum = 0.0L;
    for (std::uint64_t block = 0; block <= L; block += BLOCK) {
        const std::uint64_t lo = std::max<std::uint64_t>(block, 2), hi = std::min(L + 1, block + BLOCK);  // log2(1) = 0
        // Each block starts from an exact power: repeated products drift by an ulp a step.
        long double power[4];
        power[0] = std::pow(decay, static_cast<long double>(lo - 1));
        if (block > 0) {
            pool::checkpoint();
            if (power[0] * heaviest <= sum * 0x1p-70L) break;
        }
        for (int j = 1; j < 4; ++j) power[j] = power[j - 1] * decay;
        const long double* lg = log2_of.up_to(hi);
        long double part[4] = {0.0L, 0.0L, 0.0L, 0.0L};
        std::uint64_t u = lo;
        for (; u + 4 <= hi; u += 4) {
            for (int j = 0; j < 4; ++j) {
                part[j] += lg[u + j] * power[j] * weight(u + j);
                power[j] *= decay4;
            }
        }
        for (; u < hi; ++u) {
            part[0] += lg[u] * power[0] * weight(u);
            power[0] *= decay;
        }
        sum += (part[0] + part[1]) + (part[2] + part[3]);
    }
    return sum / static_cast<long double>(L - d);
}

}  // namespace

Compression compression(Symbols s) {
    require_bits(s, "compression");
    Compression r;
    r.p = 1.0 / BLOCK_VALUES;
    r.min_entropy = 1.0;
    const std::uint64_t blocks = s.n / BLOCK_BITS;
    // The standard wants tested blocks beyond the seeding ones, two at least
    // for a deviation; shorter inputs give no estimate (the lower bound, one bit).
    if (blocks < DICTIONARY_BLOCKS + 2) return r;
    std::array<std::uint64_t, BLOCK_VALUES> last_seen{};  // 1-based block index, 0: not yet
    // The mean and spread of log2(distance) are summed from exact counts of each
    // distance: a running double sum of a million logs drifts by 1e-13 relative
    // and more, which the flat expectation near p = 1/64 turns into errors in p
    // far above 1e-10. Most distances are short; the rare long ones are added
    // one by one, in long double like the rest.
    const std::uint64_t counted = std::min<std::uint64_t>(blocks + 1, SHORT_DISTANCES);
    std::vector<std::uint64_t> distances(counted, 0);
    Log2Table log2_of;
    long double sum = 0.0L, sum_squares = 0.0L;
    for (std::uint64_t i = 1; i <= blocks; ++i) {
        if ((i & 0xFFFF) == 0) pool::checkpoint();
        const std::uint8_t* bits = s.data + (i - 1) * BLOCK_BITS;
        unsigned value = 0;
        for (unsigned b = 0; b < BLOCK_BITS; ++b) value = (value << 1) | bits[b];
        if (i > DICTIONARY_BLOCKS) {
            // A value never seen counts as if seen just before the start.
            const std::uint64_t distance = i - last_seen[value];
            if (distance < counted) {
                ++distances[distance];
            } else {
                const long double lg = std::log2(static_cast<double>(distance));
                sum += lg;
                sum_squares += lg * lg;
            }
        }
        last_seen[value] = i;
    }
    for (std::uint64_t distance = 2; distance < counted; ++distance) {  // log2(1) = 0
        if (distances[distance] == 0) continue;
        const long double lg = log2_of(distance), seen = static_cast<long double>(distances[distance]);
        sum += seen * lg;
        sum_squares += seen * (lg * lg);
    }
    const long double blocks_tested = static_cast<long double>(blocks - DICTIONARY_BLOCKS);
    const long double mean = sum / blocks_tested;
    const double v = static_cast<double>(blocks_tested);
    r.x_bar = static_cast<double>(mean);
    r.sigma_hat = SIGMA_FACTOR * static_cast<double>(std::sqrt(std::max(0.0L, sum_squares / (blocks_tested - 1.0L) - mean * mean)));
    r.x_bar_prime = r.x_bar - Z_ALPHA * r.sigma_hat / std::sqrt(v);

    // The expectation for a most likely block of probability p, the other 63
    // sharing the rest evenly; it falls from its maximum at p = 1/64 to 0 at 1.
    constexpr long double OTHERS = BLOCK_VALUES - 1;
    auto expected = [&](double p) {
        const long double q = p;
        return expected_log_distance(q, blocks, log2_of) + OTHERS * expected_log_distance((1.0L - q) / OTHERS, blocks, log2_of);
    };
    double lo = 1.0 / BLOCK_VALUES, hi = 1.0;
    if (r.x_bar_prime >= expected(lo)) return r;  // no p: the lower bound stands
    r.found_p = true;
    // Every block repeating its predecessor: the mean is 0, reached at p = 1 only.
    if (r.x_bar_prime <= 0.0) {
        r.p = 1.0;
        r.min_entropy = 0.0;
        return r;
    }
    // NIST's tool bisects [1/64, 1] at midpoints and takes the first midpoint
    // whose expectation lies below the target by less than a relative 1e-15
    // (never one above it). Its p is that midpoint, not the root: within 1e-13
    // of the root where the expectation is steep, but much further near 1/64,
    // where it is flat. The same walk ends on the same midpoint, bit for bit on
    // the recorded assessments.
    const long double target = r.x_bar_prime, close_enough = STOP_BELOW_TARGET * target;
    for (;;) {
        const double mid = 0.5 * (lo + hi);
        if (mid <= lo || mid >= hi) break;  // adjacent doubles: hi is as close as it gets
        const long double e = expected(mid);
        if (e > target) {
            lo = mid;
        } else {
            hi = mid;
            if (target - e < close_enough) break;
        }
    }
    r.p = hi;
    r.min_entropy = min_entropy_of(r.p) / BLOCK_BITS;
    return r;
}

}  // namespace veltrane::sp800_90b
