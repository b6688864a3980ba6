// The second level: how one p-value series over many sequences looks as a
// whole. The proportion of sequences passing must lie in
// p ± 3 sqrt(p (1 - p) / m) around p = 1 - alpha, and the p-values must spread
// evenly over ten bins of width 0.1 (a chi-square test, uniform when its
// p-value is at least 0.0001).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace veltrane::sp800_22 {

inline constexpr double UNIFORMITY_ALPHA = 0.0001;
// The standard asks for at least 55 sequences before judging uniformity.
inline constexpr std::uint64_t UNIFORMITY_LEAST_SEQUENCES = 55;

struct SeriesSummary {
    std::uint64_t sequences = 0;  // m: the sequences the series has a p-value for
    std::array<std::uint64_t, 10> bins{};
    std::uint64_t passed = 0;
    double low = 0, high = 0;            // the acceptable proportion (m > 0)
    std::uint64_t least = 0, most = 0;   // the counts NIST's program accepts: low m and high m truncated
    bool proportion_passed = true;
    std::optional<double> uniformity;  // p_T, where it is computed
    bool uniformity_passed = true;
    bool passed_all() const noexcept { return proportion_passed && uniformity_passed; }
};

// Default: the standard's text (p-values at full precision, the interval on
// both sides, uniformity from 55 sequences with m/10 expected per bin).
// Compatible: NIST's program, which reads back the p-values it printed with
// six decimals, accepts a count of passes from its lower bound truncated to an
// integer, and computes uniformity from 10 sequences with an expected count
// of m/10 in integer division.
SeriesSummary summarise(const double* p_values, std::size_t count, bool compatible);

}  // namespace veltrane::sp800_22
