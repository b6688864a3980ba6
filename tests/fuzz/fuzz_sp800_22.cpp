// libFuzzer target: SP 800-22's bit-parallel forms against the plain models of
// tests/core/reference_sp800_22.hpp, on the input's bits.
//
// The first byte picks a bit offset (0-7) and a block length for the block
// tests (1 + byte / 8 % 96); the rest are the bits, most significant first,
// from that offset on. Every word-wide count (ones, runs, walk extremes,
// longest runs, ranks, template windows, overlapping ones, cyclic patterns),
// the Berlekamp-Massey complexities one block and 64 blocks at a time, the
// walk's cycles, and the transform's moduli are compared with the models.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "reference_sp800_22.hpp"
#include "sp800_22/excursions.hpp"
#include "sp800_22/fft.hpp"
#include "sp800_22/frequency_tests.hpp"
#include "sp800_22/linear_complexity.hpp"
#include "sp800_22/longest_run.hpp"
#include "sp800_22/rank.hpp"
#include "sp800_22/serial.hpp"
#include "sp800_22/templates.hpp"
#include "sp800_22/walk_steps.hpp"

namespace {

namespace s22 = veltrane::sp800_22;
namespace ref = reference_sp800_22;

[[noreturn]] void fail(const char* what, std::size_t n) {
    std::fprintf(stderr, "sp800_22: %s (%zu bits)\n", what, n);
    std::abort();
}

void check_blocks(const s22::Bits& bits, const ref::Eps& e, std::uint64_t m) {
    const std::size_t n = e.size();
    for (std::size_t b = 0; b + m <= n; b += m) {
        if (s22::ones_between(bits, b, b + m) != static_cast<std::uint64_t>(ref::count_ones(e, b, b + m)))
            fail("ones in a block", n);
        if (s22::longest_run_of_ones(bits, b, b + m) != static_cast<unsigned>(ref::longest_run(e, b, b + m)))
            fail("longest run in a block", n);
    }
    const unsigned count = static_cast<unsigned>(std::min<std::size_t>(64, n / m));
    unsigned found[64];
    if (count > 0) s22::linear_complexities(bits, 0, m, count, found);
    for (unsigned b = 0; b < count; ++b) {
        const ref::Eps block(e.begin() + b * m, e.begin() + (b + 1) * m);
        const auto model = static_cast<unsigned>(ref::linear_complexity(block));
        if (found[b] != model || s22::linear_complexity(bits, b * m, m) != model) fail("linear complexity", n);
    }
    if (m >= 2 && m <= 16 && n >= m) {
        const auto f = s22::non_overlapping_test(bits, static_cast<unsigned>(std::min<std::uint64_t>(m, 6)), 1, false);
        for (std::size_t t = 0; t < f.templates.size(); ++t) {
            ref::Eps word(f.template_length);
            for (unsigned j = 0; j < f.template_length; ++j) word[j] = (f.templates[t] >> (f.template_length - 1 - j)) & 1;
            if (f.counts[t] != ref::non_overlapping_count(e, word, 0, f.block_length)) fail("template count", n);
        }
        const auto o = s22::overlapping_test(bits, static_cast<unsigned>(std::min<std::uint64_t>(m, 8)), std::max<std::uint64_t>(m, 8), false);
        std::uint64_t counts[6] = {};
        for (std::size_t k = 0; k < o.blocks; ++k) {
            ++counts[std::min<long>(ref::overlapping_ones(e, o.template_length, k * o.block_length, (k + 1) * o.block_length), 5)];
        }
        if (!std::equal(counts, counts + 6, o.counts.begin())) fail("overlapping ones", n);
    }
}

void check_walk(const s22::Bits& bits, const ref::Eps& e) {
    const std::size_t n = e.size();
    const std::vector<long> s = ref::walk(e);
    const s22::WalkExtremes x = s22::walk_extremes(bits);
    const long high = std::max(0L, *std::max_element(s.begin(), s.end()));
    const long low = std::min(0L, *std::min_element(s.begin(), s.end()));
    if (x.highest != high || x.lowest != low || x.end != s.back()) fail("walk extremes", n);
    if (n > 1 && s22::runs_test(bits).prerequisite && s22::runs_test(bits).runs != static_cast<std::uint64_t>(ref::runs(e)))
        fail("runs", n);
    const auto ex = s22::excursion_tests(bits, false);
    const auto cycles = ref::cycles(e);
    if (ex.excursions.cycles != cycles.size()) fail("cycles", n);
    for (unsigned i = 0; i < s22::VARIANT_STATES; ++i) {
        if (ex.variant.visits[i] != static_cast<std::uint64_t>(std::count(s.begin(), s.end(), s22::variant_state(i))))
            fail("visits", n);
    }
}

void check_patterns(const s22::Bits& bits, const ref::Eps& e) {
    const std::size_t n = e.size();
    for (unsigned m : {1u, 3u, 7u}) {
        const auto counts = s22::cyclic_pattern_counts(bits, m);
        for (const auto& [pattern, c] : ref::cyclic_patterns(e, m)) {
            std::size_t v = 0;
            for (char ch : pattern) v = 2 * v + (ch == '1');
            if (counts[v] != static_cast<std::uint64_t>(c)) fail("cyclic pattern count", n);
        }
    }
    if (n >= s22::MATRIX_BITS) {
        std::array<std::uint32_t, 32> rows{};
        std::vector<std::vector<int>> a(32, std::vector<int>(32));
        for (int r = 0; r < 32; ++r) {
            for (int c = 0; c < 32; ++c) {
                a[r][c] = e[32 * r + c];
                rows[r] = rows[r] << 1 | static_cast<std::uint32_t>(e[32 * r + c]);
            }
        }
        if (s22::binary_rank(rows) != static_cast<unsigned>(ref::rank(a))) fail("rank", n);
    }
    if (n >= 2 && n <= 600) {
        std::vector<double> x(n);
        for (std::size_t i = 0; i < n; ++i) x[i] = e[i] ? 1.0 : -1.0;
        const std::vector<double> model = ref::dft_moduli(x);
        std::vector<double> ours(n / 2);
        s22::RealSpectrum(n).moduli([&](std::size_t i) { return x[i]; }, ours.data());
        for (std::size_t j = 0; j < n / 2; ++j) {
            if (!(std::fabs(ours[j] - model[j]) < 1e-8 * std::sqrt(double(n)))) fail("transform", n);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const unsigned offset = data[0] % 8;
    const std::uint64_t m = 1 + data[0] / 8 % 96;
    const std::uint64_t n = 8 * (size - 1) - offset;
    const s22::Bits bits = s22::bits_from_bytes(data + 1, offset, n);
    ref::Eps e(n);
    for (std::uint64_t i = 0; i < n; ++i) e[i] = (data[1 + (offset + i) / 8] >> (7 - (offset + i) % 8)) & 1;
    check_blocks(bits, e, m);
    check_walk(bits, e);
    check_patterns(bits, e);
    return 0;
}
