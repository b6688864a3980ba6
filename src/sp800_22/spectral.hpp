// The discrete Fourier transform (spectral) test: how many of the first n/2
// Fourier coefficients of the ±1 sequence stay under the height that 95 % of
// them stay under in a random sequence.
#pragma once

#include "sp800_22/bits.hpp"
#include "sp800_22/fft.hpp"
#include "sp800_22/figures.hpp"

namespace veltrane::sp800_22 {

// The height: sqrt(ln(1/0.05) n).
double spectral_threshold(std::uint64_t n);

// `spectrum` is a plan for the sequence's length.
DftFigures dft_test(const Bits& bits, const RealSpectrum& spectrum);

}  // namespace veltrane::sp800_22
