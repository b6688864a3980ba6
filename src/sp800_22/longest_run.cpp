#include "sp800_22/longest_run.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

#include "pool/cancel.hpp"
#include "sp800_22/special_functions.hpp"

namespace veltrane::sp800_22 {

namespace {

struct Classes {
    std::uint64_t block_length;
    unsigned first, classes;
};

constexpr std::array<Classes, 3> CLASSES = {{{8, 1, 4}, {128, 4, 6}, {10000, 10, 7}}};

const Classes& classes_of(std::uint64_t block_length) {
    return *std::find_if(CLASSES.begin(), CLASSES.end(), [&](const Classes& c) { return c.block_length == block_length; });
}

// P(longest run of ones <= k) in m fair bits, by the distribution of the
// run of ones the bits end with.
double at_most(std::uint64_t m, unsigned k) {
    std::vector<double> ending(k + 1, 0.0), next(k + 1);
    ending[0] = 1.0;
    for (std::uint64_t step = 0; step < m; ++step) {
        double total = 0.0;
        for (double p : ending) total += p;
        next[0] = 0.5 * total;
        for (unsigned r = 0; r < k; ++r) next[r + 1] = 0.5 * ending[r];
        ending.swap(next);
    }
    double total = 0.0;
    for (double p : ending) total += p;
    return total;
}

std::array<double, 7> exact_probabilities(const Classes& c) {
    std::array<double, 7> p{};
    double below = 0.0;
    for (unsigned i = 0; i + 1 < c.classes; ++i) {
        const double upto = at_most(c.block_length, c.first + i);
        p[i] = upto - below;
        below = upto;
    }
    p[c.classes - 1] = 1.0 - below;
    return p;
}

const std::array<double, 7>& probabilities(std::uint64_t block_length, bool compatible) {
    static const std::array<std::array<double, 7>, 3> exact = {
        exact_probabilities(CLASSES[0]), exact_probabilities(CLASSES[1]), exact_probabilities(CLASSES[2])};
    // For blocks of 10^4 bits the standard's table (and NIST's program) gives
    // four-decimal values of an approximation, 0.0882 where the exact
    // probability of a longest run of at most 10 is 0.0866.
    static const std::array<double, 7> table_10000 = {0.0882, 0.2092, 0.2483, 0.1933, 0.1208, 0.0675, 0.0727};
    if (compatible && block_length == 10000) return table_10000;
    return exact[static_cast<std::size_t>(&classes_of(block_length) - CLASSES.data())];
}

unsigned longest_within(std::uint64_t x) {
    unsigned k = 0;
    for (; x != 0; ++k) x &= x << 1;
    return k;
}

}  // namespace

std::uint64_t longest_run_block_length_for(std::uint64_t n) { return n < 6272 ? 8 : n < 750000 ? 128 : 10000; }

bool longest_run_block_length_known(std::uint64_t block_length) {
    return std::any_of(CLASSES.begin(), CLASSES.end(), [&](const Classes& c) { return c.block_length == block_length; });
}

unsigned longest_run_of_ones(const Bits& bits, std::uint64_t begin, std::uint64_t end) {
    unsigned best = 0, current = 0;  // current: the run of ones reaching the chunk's start
    for (std::uint64_t at = begin; at < end; at += 64) {
        const unsigned len = static_cast<unsigned>(std::min<std::uint64_t>(64, end - at));
        const std::uint64_t keep = ~std::uint64_t{0} << (64 - len);
        const std::uint64_t chunk = bits.window(at) & keep;
        if (chunk == keep) {
            current += len;
            best = std::max(best, current);
            continue;
        }
        best = std::max({best, current + static_cast<unsigned>(std::countl_one(chunk)), longest_within(chunk)});
        current = static_cast<unsigned>(std::countr_one(chunk >> (64 - len)));
    }
    return best;
}

LongestRunFigures longest_run_test(const Bits& bits, std::uint64_t block_length, bool compatible) {
    const Classes& c = classes_of(block_length);
    LongestRunFigures f;
    f.block_length = block_length;
    f.blocks = bits.size() / block_length;
    f.first = c.first;
    f.classes = c.classes;
    f.probabilities = probabilities(block_length, compatible);
    for (std::uint64_t b = 0; b < f.blocks; ++b) {
        if ((b & 0xFF) == 0) pool::checkpoint();
        const unsigned run = longest_run_of_ones(bits, b * block_length, (b + 1) * block_length);
        const unsigned cls = run <= c.first ? 0 : std::min(run - c.first, c.classes - 1);
        ++f.counts[cls];
    }
    const auto blocks = static_cast<double>(f.blocks);
    for (unsigned i = 0; i < c.classes; ++i) {
        const double expected = blocks * f.probabilities[i];
        const double gap = static_cast<double>(f.counts[i]) - expected;
        f.chi_square += gap * gap / expected;
    }
    f.p_value = igamc(static_cast<double>(c.classes - 1) / 2.0, f.chi_square / 2.0);
    return f;
}

}  // namespace veltrane::sp800_22
