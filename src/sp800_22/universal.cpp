#include "sp800_22/universal.hpp"

#include <array>
#include <cmath>
#include <vector>

#include "pool/cancel.hpp"

namespace veltrane::sp800_22 {

namespace {

struct Row {
    std::uint64_t from_bits;  // the least n that takes this L
    double expected, variance;
};

// The standard's table, L = 1..16 (input sizes from L = 6 on).
constexpr std::array<Row, 17> TABLE = {{
    {0, 0, 0},
    {0, 0.7326495, 0.690},
    {0, 1.5374383, 1.338},
    {0, 2.4016068, 1.901},
    {0, 3.3112247, 2.358},
    {0, 4.2534266, 2.705},
    {387840, 5.2177052, 2.954},
    {904960, 6.1962507, 3.125},
    {2068480, 7.1836656, 3.238},
    {4654080, 8.1764248, 3.311},
    {10342400, 9.1723243, 3.356},
    {22753280, 10.170032, 3.384},
    {49643520, 11.168765, 3.401},
    {107560960, 12.168070, 3.410},
    {231669760, 13.167693, 3.416},
    {496435200, 14.167488, 3.419},
    {1059061760, 15.167379, 3.421},
}};

// log2 of the distances that occur most, computed as the program does, once.
constexpr std::size_t CACHED_DISTANCES = 1 << 16;
const std::vector<double>& log2_table() {
    static const std::vector<double> table = [] {
        std::vector<double> t(CACHED_DISTANCES);
        for (std::size_t d = 1; d < CACHED_DISTANCES; ++d) t[d] = std::log(static_cast<double>(d)) / std::log(2.0);
        return t;
    }();
    return table;
}

}  // namespace

unsigned universal_block_length_for(std::uint64_t n) {
    unsigned l = 0;
    for (unsigned i = UNIVERSAL_SMALLEST_L; i <= UNIVERSAL_LARGEST_L; ++i) {
        if (n >= TABLE[i].from_bits) l = i;
    }
    return l;
}

double universal_expected(unsigned l) { return TABLE[l].expected; }
double universal_variance(unsigned l) { return TABLE[l].variance; }

UniversalFigures universal_test(const Bits& bits, unsigned l, std::uint64_t q) {
    UniversalFigures f;
    f.block_length = l;
    f.initial_blocks = q;
    f.test_blocks = bits.size() / l - q;
    f.discarded = bits.size() - (q + f.test_blocks) * l;
    f.expected = universal_expected(l);
    f.variance = universal_variance(l);
    // The last block number (from 1) at which each value was seen; 0: never.
    std::vector<std::uint64_t> last(std::size_t{1} << l, 0);
    for (std::uint64_t i = 1; i <= q; ++i) last[bits.window((i - 1) * l) >> (64 - l)] = i;
    const std::vector<double>& log2 = log2_table();
    double sum = 0.0;
    for (std::uint64_t i = q + 1; i <= q + f.test_blocks; ++i) {
        if ((i & 0xFFFF) == 0) pool::checkpoint();
        std::uint64_t& seen = last[bits.window((i - 1) * l) >> (64 - l)];
        const std::uint64_t distance = i - seen;
        sum += distance < CACHED_DISTANCES ? log2[distance]
                                           : std::log(static_cast<double>(distance)) / std::log(2.0);
        seen = i;
    }
    const auto k = static_cast<double>(f.test_blocks);
    const double dl = l;
    f.sum = sum;
    f.phi = sum / k;
    const double c = 0.7 - 0.8 / dl + (4.0 + 32.0 / dl) * std::pow(k, -3.0 / dl) / 15.0;
    f.sigma = c * std::sqrt(f.variance / k);
    f.p_value = std::erfc(std::fabs(f.phi - f.expected) / (std::sqrt(2.0) * f.sigma));
    return f;
}

}  // namespace veltrane::sp800_22
