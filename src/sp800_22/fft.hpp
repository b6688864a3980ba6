// Discrete Fourier transforms of any length, for the spectral test: a
// mixed-radix transform by recursive decimation in time for lengths whose
// prime factors are at most 31, Bluestein's chirp convolution around one for
// the others, and the moduli of a real sequence's first n/2 coefficients
// from one complex transform of half its length.
//
// The recursion reads its input only at the leaves, through a function, so
// that the spectral test reads the ±1 values straight from the packed bits;
// every sub-transform but the largest few works within the cache.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "pool/cancel.hpp"

namespace veltrane::sp800_22 {

struct Complex {
    double re = 0, im = 0;
};

inline Complex operator+(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }
inline Complex operator-(Complex a, Complex b) { return {a.re - b.re, a.im - b.im}; }
inline Complex operator*(Complex a, Complex b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
inline Complex operator*(Complex a, double s) { return {a.re * s, a.im * s}; }
inline Complex conjugate(Complex a) { return {a.re, -a.im}; }

// Reads the values of an array (one type for every array, so that a
// transform within a transform instantiates nothing new).
struct ArrayLoad {
    const Complex* values;
    Complex operator()(std::size_t j) const { return values[j]; }
};

// X_k = sum_j x_j e^(-2 pi i jk / n). A plan is built once and used by any
// number of threads at once.
class ComplexFft {
public:
    explicit ComplexFft(std::size_t n);
    ~ComplexFft();
    ComplexFft(const ComplexFft&) = delete;
    ComplexFft& operator=(const ComplexFft&) = delete;

    std::size_t size() const noexcept { return n_; }

    // out[k] = X_k for x_j = load(j); `out` (n values) is not read.
    template <class Load>
    void transform(const Load& load, Complex* out) const {
        if (inner_) {
            bluestein(load, out);
        } else {
            level(0, load, 0, 1, out);
        }
    }

private:
    struct Level {
        unsigned radix;
        std::size_t size;            // of this level's transforms
        std::size_t twiddle_offset;  // W_size^(qk) for k < size / radix, 0 < q < radix
    };

    // The transform of size levels_[i].size of load(offset + t stride), t = 0, 1, ...
    template <class Load>
    void level(std::size_t i, const Load& load, std::size_t offset, std::size_t stride, Complex* out) const {
        const Level& l = levels_[i];
        if (i + 1 == levels_.size()) {
            Complex a[32];
            for (unsigned q = 0; q < l.radix; ++q) a[q] = load(offset + q * stride);
            butterfly(l.radix, a, out);
            return;
        }
        const std::size_t m = l.size / l.radix;
        for (unsigned q = 0; q < l.radix; ++q) level(i + 1, load, offset + q * stride, stride * l.radix, out + q * m);
        if (l.size >= 4096) pool::checkpoint();
        combine(l, out);
    }
    // The level's sub-transforms, side by side in `out`, into its transform.
    void combine(const Level& l, Complex* out) const;
    // The DFT of p values.
    void butterfly(unsigned p, const Complex* a, Complex* y) const;

    template <class Load>
    void bluestein(const Load& load, Complex* out) const {
        const std::size_t m = inner_->size();
        std::vector<Complex> a(m), b(m);
        for (std::size_t j = 0; j < n_; ++j) a[j] = load(j) * chirp_[j];
        inner_->transform(ArrayLoad{a.data()}, b.data());
        // The inverse transform as the conjugate of the forward one of the conjugate.
        for (std::size_t j = 0; j < m; ++j) b[j] = conjugate(b[j] * kernel_[j]);
        inner_->transform(ArrayLoad{b.data()}, a.data());
        for (std::size_t k = 0; k < n_; ++k) out[k] = conjugate(a[k]) * chirp_[k];
    }

    std::size_t n_;
    std::vector<Level> levels_;
    std::vector<Complex> twiddles_;
    std::vector<double> cosines_, sines_;  // of 2 pi j / p, j < p, for each radix p
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

    // `out` receives n/2 moduli of the values value(0), ..., value(n - 1).
    template <class Value>
    void moduli(const Value& value, double* out) const {
        const std::size_t h = half_.size();
        std::vector<Complex> z(h);
        if (n_ % 2) {
            half_.transform([&](std::size_t j) { return Complex{value(j), 0.0}; }, z.data());
            for (std::size_t j = 0; j < n_ / 2; ++j) out[j] = modulus(z[j]);
            return;
        }
        // Even and odd values as one complex sequence; their spectra separate by symmetry.
        half_.transform([&](std::size_t k) { return Complex{value(2 * k), value(2 * k + 1)}; }, z.data());
        unpack(z.data(), out);
    }

private:
    static double modulus(Complex c);
    void unpack(const Complex* z, double* out) const;

    std::size_t n_;
    ComplexFft half_;                 // n/2 points for even n, n for odd n
    std::vector<Complex> unpacking_;  // e^(-2 pi i j / n), j < n/2 (even n)
};

}  // namespace veltrane::sp800_22
