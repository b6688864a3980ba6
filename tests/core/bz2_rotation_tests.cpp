// bz2_length's rotation sort against the definition: every rotation of the
// result no greater than the next, compared value by value, on random,
// periodic, mostly constant, lone-value and Fibonacci sequences.
#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "suites.hpp"

#include "bz2_length/rotation_sort.hpp"

namespace {

namespace bz = veltrane::bz2_length;

int passed = 0, failed = 0;

bool rotation_less_or_equal(const std::vector<std::uint16_t>& v, std::uint32_t a, std::uint32_t b) {
    const std::size_t m = v.size();
    for (std::size_t k = 0; k < m; ++k) {
        const auto x = v[(a + k) % m], y = v[(b + k) % m];
        if (x != y) return x < y;
    }
    return true;
}

void check_sort_of(const std::vector<std::uint16_t>& v, std::uint32_t radix, bz::RotationScratch& scratch) {
    const auto m = static_cast<std::uint32_t>(v.size());
    std::vector<std::uint32_t> order(m);
    bz::sort_rotations(v.data(), m, radix, order.data(), scratch);
    std::vector<std::uint32_t> seen(order);
    std::sort(seen.begin(), seen.end());
    std::vector<std::uint32_t> all(m);
    std::iota(all.begin(), all.end(), 0u);
    bool sorted = seen == all;
    for (std::uint32_t x = 1; sorted && x < m; ++x) sorted = rotation_less_or_equal(v, order[x - 1], order[x]);
    if (!sorted) std::fprintf(stderr, "rotation sort: m %u radix %u out of order\n", m, radix);
    CHECK(sorted);
}

void check_rotation_sort(bool long_form, std::mt19937_64& rng) {
    bz::RotationScratch scratch;
    for (int trial = 0; trial < (long_form ? 20000 : 3000); ++trial) {
        const std::uint32_t m = 1 + static_cast<std::uint32_t>(rng() % (trial % 10 == 0 && trial % 5 != 1 ? 3000 : 120));
        const std::uint32_t radix = 1 + static_cast<std::uint32_t>(rng() % (trial % 2 ? 4 : 300));
        std::vector<std::uint16_t> v(m);
        const int shape = trial % 5;
        const std::uint32_t period = 1 + static_cast<std::uint32_t>(rng() % 7);
        for (std::uint32_t i = 0; i < m; ++i) {
            if (shape == 0) v[i] = static_cast<std::uint16_t>(rng() % radix);
            if (shape == 1) v[i] = static_cast<std::uint16_t>((i % period) % radix);       // periodic
            if (shape == 2) v[i] = static_cast<std::uint16_t>(rng() % 8 ? 0 : rng() % radix);  // mostly one value
            if (shape >= 3) v[i] = static_cast<std::uint16_t>(rng() % std::min<std::uint32_t>(radix, 2));
        }
        // One value apart, as the wrap token of a decimal block is.
        if (shape >= 3 && radix > 2) {
            const std::uint32_t at = static_cast<std::uint32_t>(rng() % m);
            v[at] = static_cast<std::uint16_t>(2 + rng() % (radix - 2));
        }
        check_sort_of(v, radix, scratch);
    }
    // A value occurring once, which the sort keys apart (below, between or
    // above the others), in random, periodic and constant backgrounds, short
    // and past the counting passes' threshold.
    for (int trial = 0; trial < (long_form ? 2000 : 300); ++trial) {
        const std::uint32_t m = 60 + static_cast<std::uint32_t>(rng() % (trial % 8 == 0 ? 9000 : 200));
        const std::uint32_t others = 1 + static_cast<std::uint32_t>(rng() % 3);
        const std::uint32_t lone = static_cast<std::uint32_t>(rng() % (others + 1));
        const std::uint32_t period = 1 + static_cast<std::uint32_t>(rng() % 5);
        std::vector<std::uint16_t> v(m);
        for (std::uint32_t i = 0; i < m; ++i) {
            const std::uint32_t x = trial % 3 == 0 ? rng() % others : trial % 3 == 1 ? (i % period) % others : 0;
            v[i] = static_cast<std::uint16_t>(x < lone ? x : x + 1);
        }
        v[rng() % m] = static_cast<std::uint16_t>(lone);
        check_sort_of(v, others + 1, scratch);
    }
    // Long ties: a random pattern repeated, with one change; the Fibonacci word.
    for (std::uint32_t m : {5000u, long_form ? 40000u : 9000u}) {
        std::vector<std::uint16_t> v(m);
        for (std::uint32_t i = 0; i < m; ++i) v[i] = static_cast<std::uint16_t>((i * 7919u % 997u) % 5u);
        v[m / 3] = 4;
        check_sort_of(v, 5, scratch);
        std::string a = "0", b = "01";
        while (b.size() < m) a = b + a, std::swap(a, b);
        for (std::uint32_t i = 0; i < m; ++i) v[i] = static_cast<std::uint16_t>(b[i] - '0');
        check_sort_of(v, 2, scratch);
    }
}

}  // namespace

int run_bz2_rotation_tests(bool long_form) {
    passed = failed = 0;
    std::mt19937_64 rng(91);
    check_rotation_sort(long_form, rng);
    std::printf("bz2_length rotation sort: %d passed, %d failed\n", passed, failed);
    return failed;
}
