// Discrete Fourier transforms of any length, for the spectral test: a
// mixed-radix, self-sorting (Stockham) complex transform for lengths whose
// prime factors are at most 31, Bluestein's chirp convolution around it for
// the others, and the moduli of a real sequence's first n/2 coefficients
// from one complex transform of half its length.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace veltrane::sp800_22 {

struct Complex {
    double re = 0, im = 0;
};

// X_k = sum_j x_j e^(-2 pi i jk / n). Plans are built once and used by any
// number of threads at once.
class ComplexFft {
public:
    explicit ComplexFft(std::size_t n);
    ~ComplexFft();
    ComplexFft(const ComplexFft&) = delete;
    ComplexFft& operator=(const ComplexFft&) = delete;

    std::size_t size() const noexcept { return n_; }
    // Transforms `data` (n values) in place; `scratch` holds scratch_size() values.
    void transform(Complex* data, Complex* scratch) const;
    std::size_t scratch_size() const noexcept;

private:
    struct Stage {
        unsigned radix;
        std::size_t before;          // L: the length of the transforms this stage combines
        std::size_t twiddle_offset;  // W_{L p}^{qk} for k < L, 0 < q < p
    };
    void stockham(Complex* data, Complex* scratch) const;
    void bluestein(Complex* data, Complex* scratch) const;

    std::size_t n_;
    std::vector<Stage> stages_;
    std::vector<Complex> twiddles_;
    // Bluestein: the chirp e^(-pi i j^2 / n), and the transform of its conjugate
    // wrapped to the inner length, divided by that length.
    std::unique_ptr<ComplexFft> inner_;
    std::vector<Complex> chirp_, kernel_;
};

// |X_0|, ..., |X_{n/2 - 1}| of n real values.
class RealSpectrum {
public:
    explicit RealSpectrum(std::size_t n);
    std::size_t size() const noexcept { return n_; }
    // `out` receives n/2 moduli.
    void moduli(const double* x, double* out) const;

private:
    std::size_t n_;
    ComplexFft half_;                  // n/2 points for even n, n for odd n
    std::vector<Complex> unpacking_;   // e^(-2 pi i j / n), j < n/2 (even n)
};

}  // namespace veltrane::sp800_22
