#include "sp800_22/spectral.hpp"

#include <cmath>
#include <vector>

#include "pool/cancel.hpp"

namespace veltrane::sp800_22 {

double spectral_threshold(std::uint64_t n) { return std::sqrt(std::log(1.0 / 0.05) * static_cast<double>(n)); }

DftFigures dft_test(const Bits& bits, const RealSpectrum& spectrum) {
    const std::uint64_t n = bits.size();
    std::vector<double> moduli(n / 2);
    spectrum.moduli([&](std::size_t i) { return bits.bit(i) ? 1.0 : -1.0; }, moduli.data());
    pool::checkpoint();
    // The standard counts the first n/2 coefficients, the constant one
    // included, as NIST's program does (it computes one modulus more, reading
    // past its array to do so, and leaves it out of the count).
    const double threshold = spectral_threshold(n);
    DftFigures f;
    for (double m : moduli) f.below += m < threshold;
    const auto nd = static_cast<double>(n);
    f.percentile = static_cast<double>(f.below) / static_cast<double>(n / 2) * 100.0;
    f.expected = 0.95 * nd / 2.0;
    f.d = (static_cast<double>(f.below) - f.expected) / std::sqrt(nd / 4.0 * 0.95 * 0.05);
    f.p_value = std::erfc(std::fabs(f.d) / std::sqrt(2.0));
    return f;
}

}  // namespace veltrane::sp800_22
