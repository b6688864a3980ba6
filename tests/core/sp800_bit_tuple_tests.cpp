// The tuple counts of bits where their sort changes its ways, against the
// model and the byte suffix sort: around the sizes of the bit sort's buckets
// and passes, and bits in long runs, whose suffix order is induced from the
// run starts'.
#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "check.hpp"
#include "sp800_tuple_model.hpp"
#include "suites.hpp"

#include "sp800_90b/packed_suffixes.hpp"
#include "sp800_90b/run_suffix_order.hpp"
#include "sp800_90b/suffix_tuples.hpp"
#include "strings/frag/byte_suffix_array.hpp"

namespace {

namespace sp = veltrane::sp800_90b;
using namespace sp800_tuple_model;

int passed = 0, failed = 0;

// The tuple counts of bits around the sizes where the bit sort changes its
// ways: under and over the 64 bits it starts from, buckets (of the first 14
// bits) whose suffixes share 14 + 63 bits or more (copies planted in noise),
// buckets of about 128 suffixes, biased, periodic and constant stretches;
// against the model where it is cheap, else against the byte suffix sort with
// its linear prefix method.
void check_bit_tuple_thresholds(std::mt19937_64& rng) {
    auto planted = [&](std::size_t n, std::size_t copy, std::size_t copies) {
        Bytes b = random_input(rng, n, 2, 0.0);
        for (std::size_t c = 0; c < copies; ++c) {
            const std::size_t from = rng() % (n - copy), to = rng() % (n - copy);
            std::copy(b.begin() + from, b.begin() + from + copy, b.begin() + to);
        }
        return b;
    };
    std::vector<Bytes> small;
    for (std::size_t n : {62, 63, 64, 65, 77, 78, 79, 80, 300}) {
        for (double bias : {0.0, 0.6, 0.95}) small.push_back(random_input(rng, n, 2, bias));
    }
    for (std::size_t copy : {60, 76, 77, 78, 79, 90}) small.push_back(planted(1200, copy, 3));
    Bytes periodic(1500);
    for (std::size_t i = 0; i < periodic.size(); ++i) periodic[i] = (i % 97) * 31 % 7 < 3;
    small.push_back(periodic);
    small.push_back(Bytes(900, 1));
    for (const Bytes& s : small) {
        const sp::TupleCounts model = model_tuples(s);
        const sp::TupleCounts c = sp::count_tuples(symbols(s, 2));
        const bool ok = c.longest_repeat == model.longest_repeat && c.top == model.top && c.pairs == model.pairs;
        if (!ok) std::fprintf(stderr, "bit tuple counts differ from the model: n=%zu\n", s.size());
        CHECK(ok);
    }
    std::vector<Bytes> large;
    for (std::size_t copy : {70, 77, 78, 85}) large.push_back(planted(400000, copy, 200));
    large.push_back(random_input(rng, std::size_t{1} << 21, 2, 0.0));  // about 128 suffixes a bucket
    for (const Bytes& s : large) {
        const sp::TupleCounts reference = sp::count_tuples(symbols(s, 2), {true, true, false});
        const sp::TupleCounts c = sp::count_tuples(symbols(s, 2));
        const bool ok = c.longest_repeat == reference.longest_repeat && c.top == reference.top && c.pairs == reference.pairs;
        if (!ok) std::fprintf(stderr, "bit tuple counts differ from the byte sort's: n=%zu\n", s.size());
        CHECK(ok);
    }
}

// The suffix order of bits in runs, induced from the run starts' order,
// against the byte suffix sort: sticky bits that keep their value with
// probability 0.5 to 0.999, ending in a run of 0s or of 1s, a single run, two,
// alternating bits (every bit a run), sizes around the first sort's 12 bits;
// and the tuple counts of such bits against the model and the byte sort's.
void check_induced_order(std::mt19937_64& rng) {
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<Bytes> inputs;
    for (double keep : {0.5, 0.8, 0.9, 0.97, 0.999}) {
        for (std::size_t n : {1, 2, 13, 63, 64, 65, 4095, 4096, 4097, 30000}) {
            Bytes b(n);
            unsigned bit = rng() & 1;
            for (auto& x : b) {
                if (unit(rng) >= keep) bit ^= 1;
                x = static_cast<std::uint8_t>(bit);
            }
            inputs.push_back(b);
        }
    }
    inputs.push_back(Bytes(5000, 0));
    inputs.push_back(Bytes(5000, 1));
    Bytes two(3000, 0), alternating(2000);
    std::fill(two.begin() + 1700, two.end(), 1);
    for (std::size_t i = 0; i < alternating.size(); ++i) alternating[i] = i % 2;
    inputs.push_back(two);
    inputs.push_back(alternating);
    bool ok = true;
    for (const Bytes& s : inputs) {
        const auto n = static_cast<std::uint32_t>(s.size());
        std::vector<std::uint32_t> expected(n);
        veltrane::strings::frag::build_byte_suffix_array(s.data(), n, expected.data());
        const sp::PackedSuffixes packed(s.data(), n);
        const auto induced = sp::induced_suffix_array(s.data(), packed, ~std::uint64_t{0});
        const bool same = induced && std::equal(expected.begin(), expected.end(), induced->begin());
        if (!same) std::fprintf(stderr, "induced suffix order differs: n=%u\n", n);
        ok = ok && same;
    }
    CHECK(ok);
    for (double keep : {0.8, 0.93}) {
        Bytes b(1500);
        unsigned bit = 0;
        for (auto& x : b) {
            if (unit(rng) >= keep) bit ^= 1;
            x = static_cast<std::uint8_t>(bit);
        }
        const sp::TupleCounts model = model_tuples(b), c = sp::count_tuples(symbols(b, 2));
        CHECK(c.longest_repeat == model.longest_repeat && c.top == model.top && c.pairs == model.pairs);
    }
    for (double keep : {0.8, 0.9, 0.95}) {
        Bytes b(300000);
        unsigned bit = 1;
        for (auto& x : b) {
            if (unit(rng) >= keep) bit ^= 1;
            x = static_cast<std::uint8_t>(bit);
        }
        const sp::TupleCounts reference = sp::count_tuples(symbols(b, 2), {true, true, false});
        const sp::TupleCounts c = sp::count_tuples(symbols(b, 2));
        CHECK(c.longest_repeat == reference.longest_repeat && c.top == reference.top && c.pairs == reference.pairs);
    }
}

}  // namespace

int run_sp800_bit_tuple_tests(bool) {
    passed = failed = 0;
    std::mt19937_64 rng(20261210);
    check_bit_tuple_thresholds(rng);
    check_induced_order(rng);
    std::printf("sp800_bit_tuples: %d passed, %d failed\n", passed, failed);
    return failed;
}
