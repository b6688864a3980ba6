// The randomness battery's figures from a state, in byte or bit mode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "battery/pass.hpp"
#include "battery/state.hpp"

namespace veltrane::battery {

// The most-common-value estimate's confidence factor: the 99.5% point of the
// standard normal distribution.
inline constexpr double MCV_Z = 2.5758293035489008;

// What ent prints where its own arithmetic differs from the figures of
// Result; the ent-compatible formatter prints these, everything else from
// Result (ent's other quirks, such as -nan for an empty input and
// "more than than", are the formatter's).
struct EntFigures {
    double entropy = 0.0;              // sum of p * log2(1/p) from +0.0 in bin order; 0.0 when empty
    int compression_percent = 100;     // (int)(100 * (w - entropy) / w), w = 8 or 1
    double chi_square_p = 1.0;         // ent_chi_square_survival (NaN when empty)
    bool serial_correlation_undefined = false;  // its denominator was exactly 0.0: "undefined (all values equal!)"
};

// Every figure of one input. In bit mode the symbols are its bits, most
// significant first (ent -b): sizes and counts are in bits, and the entropies
// are in bits per bit over the 2-bin histogram. Monte Carlo always uses bytes.
// Undefined values are NaN: everything of an empty input, serial correlation
// of constant data, Monte Carlo under 6 bytes.
struct Result {
    bool bits = false;
    std::uint64_t size = 0;               // bytes, or bits
    std::vector<std::uint64_t> histogram; // 256 byte counts, or 2 bit counts (zeros, ones)

    // Byte mode: exactly shannon_entropy::measure_entropy, measure_metric_entropy
    // (H/8), measure_normalized_metric_entropy and min_entropy::min_entropy of
    // the same bytes. Bit mode: H of the bits (0..1); metric entropy is H
    // itself (already per bit); normalised entropy is H over the expected H
    // of as many random bits (expected_random_bit_entropy), at most 1.0;
    // min-entropy is -log2 of the larger bit fraction.
    double shannon_entropy = 0.0;
    double metric_entropy = 0.0;
    double normalized_entropy = 0.0;
    double min_entropy = 0.0;
    // SP 800-90B most common value: p_u = min(1, p + Z sqrt(p (1 - p) / (n - 1))),
    // p the largest count over n, H = -log2 p_u, per symbol (p_u = 1 for n = 1).
    double min_entropy_mcv = 0.0;

    unsigned chi_square_df = 255;  // bins - 1
    double chi_square = 0.0;       // sum (c - E)^2 / E in bin order, E = n / bins
    double chi_square_p = 0.0;     // exact upper tail, chi_square_survival
    double mean = 0.0;             // of the symbol values
    std::uint64_t monte_carlo_groups = 0, monte_carlo_hits = 0;
    double monte_carlo_pi = 0.0;             // 4 * hits / groups
    double monte_carlo_error_percent = 0.0;  // 100 * |pi - estimate| / pi
    double serial_correlation = 0.0;         // lag 1, with the last-to-first pair
    double compression_percent = 0.0;        // 100 * (w - H) / w, w = 8 or 1, not truncated

    EntFigures ent;
};

// The figures of the whole input whose state this is (start 0). Throws
// std::invalid_argument for a state that starts elsewhere (a piece: merge it
// with what precedes it first) or, in bit mode, one of 2^61 bytes or more.
// O(256) plus O(1) log and exp calls (a few thousand in bit mode below 256 bytes).
Result finish(const State& state, bool bits);

// measure_state and finish in one call.
Result measure(const std::uint8_t* data, std::size_t n, bool bits, bool case_fold = false);

}  // namespace veltrane::battery
