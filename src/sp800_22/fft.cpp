#include "sp800_22/fft.hpp"

#include <cmath>
#include <numbers>
#include <stdexcept>

#include "pool/cancel.hpp"

namespace veltrane::sp800_22 {

namespace {

constexpr unsigned LARGEST_RADIX = 31;

inline Complex operator+(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }
inline Complex operator-(Complex a, Complex b) { return {a.re - b.re, a.im - b.im}; }
inline Complex operator*(Complex a, Complex b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
inline Complex operator*(Complex a, double s) { return {a.re * s, a.im * s}; }
inline Complex times_minus_i(Complex a) { return {a.im, -a.re}; }
inline Complex conjugate(Complex a) { return {a.re, -a.im}; }

// e^(-2 pi i num / den), num reduced below den first so that the angle is exact to its last bit.
Complex root(std::size_t num, std::size_t den) {
    const double angle = -2.0 * std::numbers::pi * static_cast<double>(num % den) / static_cast<double>(den);
    return {std::cos(angle), std::sin(angle)};
}

// The DFT of P values, P odd: pairs a_q, a_{P-q} share their cosines and sines.
struct OddButterfly {
    unsigned p;
    double cosines[LARGEST_RADIX], sines[LARGEST_RADIX];  // of 2 pi j / p

    explicit OddButterfly(unsigned radix) : p(radix) {
        for (unsigned j = 0; j < p; ++j) {
            cosines[j] = std::cos(2.0 * std::numbers::pi * j / p);
            sines[j] = std::sin(2.0 * std::numbers::pi * j / p);
        }
    }
    template <unsigned P>
    void apply(const Complex* a, Complex* y) const {
        constexpr unsigned H = (P - 1) / 2;
        Complex sum[H + 1], diff[H + 1];
        Complex total = a[0];
        for (unsigned q = 1; q <= H; ++q) {
            sum[q] = a[q] + a[P - q];
            diff[q] = a[q] - a[P - q];
            total = total + sum[q];
        }
        y[0] = total;
        for (unsigned u = 1; u <= H; ++u) {
            Complex even = a[0], odd{};
            for (unsigned q = 1; q <= H; ++q) {
                const unsigned j = (q * u) % P;
                even = even + sum[q] * cosines[j];
                odd = odd + diff[q] * sines[j];
            }
            // y_u = even - i odd, y_{P-u} = even + i odd
            y[u] = even + times_minus_i(odd);
            y[P - u] = even - times_minus_i(odd);
        }
    }
};

// One Stockham pass combining transforms of length L into ones of length L p.
template <unsigned P, class Butterfly>
void pass(const Complex* in, Complex* out, std::size_t n, std::size_t before, const Complex* twiddles,
          unsigned p_runtime, Butterfly&& butterfly) {
    const unsigned p = P ? P : p_runtime;
    const std::size_t after = n / (before * p), stride = after * p;
    Complex a[LARGEST_RADIX + 1], y[LARGEST_RADIX + 1];
    for (std::size_t k = 0; k < before; ++k) {
        if ((k & 0x3FF) == 0) pool::checkpoint();
        const Complex* w = twiddles + k * (p - 1);
        const Complex* from = in + k * stride;
        Complex* to = out + k * after;
        for (std::size_t s = 0; s < after; ++s) {
            a[0] = from[s];
            if (k == 0) {
                for (unsigned q = 1; q < p; ++q) a[q] = from[s + after * q];
            } else {
                for (unsigned q = 1; q < p; ++q) a[q] = from[s + after * q] * w[q - 1];
            }
            butterfly(a, y);
            for (unsigned u = 0; u < p; ++u) to[before * u * after + s] = y[u];
        }
    }
}

std::size_t smallest_factor(std::size_t n) {
    for (std::size_t f = 2; f * f <= n; ++f) {
        if (n % f == 0) return f;
    }
    return n;
}

// The smallest 2^a 3^b 5^c at least m.
std::size_t smooth_at_least(std::size_t m) {
    std::size_t best = ~std::size_t{0};
    for (std::size_t f5 = 1; f5 < 2 * m; f5 *= 5) {
        for (std::size_t f3 = f5; f3 < 2 * m; f3 *= 3) {
            std::size_t f = f3;
            while (f < m) f *= 2;
            best = f < best ? f : best;
        }
    }
    return best;
}

}  // namespace

ComplexFft::ComplexFft(std::size_t n) : n_(n) {
    if (n == 0) throw std::invalid_argument("a transform of no values");
    std::vector<unsigned> radices;
    std::size_t rest = n;
    while (rest % 4 == 0) radices.push_back(4), rest /= 4;
    while (rest % 2 == 0) radices.push_back(2), rest /= 2;
    bool smooth = true;
    while (rest > 1) {
        const std::size_t f = smallest_factor(rest);
        if (f > LARGEST_RADIX) {
            smooth = false;
            break;
        }
        radices.push_back(static_cast<unsigned>(f));
        rest /= f;
    }
    if (!smooth) {
        const std::size_t m = smooth_at_least(2 * n - 1);
        inner_ = std::make_unique<ComplexFft>(m);
        chirp_.resize(n);
        for (std::size_t j = 0; j < n; ++j) {
            const auto square = static_cast<unsigned __int128>(j) * j % (2 * n);
            chirp_[j] = root(static_cast<std::size_t>(square), 2 * n);
        }
        kernel_.assign(m, Complex{});
        kernel_[0] = conjugate(chirp_[0]);
        for (std::size_t j = 1; j < n; ++j) kernel_[j] = kernel_[m - j] = conjugate(chirp_[j]);
        std::vector<Complex> scratch(inner_->scratch_size());
        inner_->transform(kernel_.data(), scratch.data());
        for (Complex& k : kernel_) k = k * (1.0 / static_cast<double>(m));
        return;
    }
    std::size_t before = 1;
    for (unsigned p : radices) {
        stages_.push_back({p, before, twiddles_.size()});
        for (std::size_t k = 0; k < before; ++k) {
            for (unsigned q = 1; q < p; ++q) twiddles_.push_back(root(q * k, before * p));
        }
        before *= p;
    }
}

ComplexFft::~ComplexFft() = default;

std::size_t ComplexFft::scratch_size() const noexcept { return inner_ ? inner_->size() + inner_->scratch_size() : n_; }

void ComplexFft::transform(Complex* data, Complex* scratch) const {
    if (inner_) {
        bluestein(data, scratch);
    } else {
        stockham(data, scratch);
    }
}

void ComplexFft::stockham(Complex* data, Complex* scratch) const {
    Complex* in = data;
    Complex* out = scratch;
    for (const Stage& stage : stages_) {
        pool::checkpoint();
        const Complex* w = twiddles_.data() + stage.twiddle_offset;
        switch (stage.radix) {
        case 2:
            pass<2>(in, out, n_, stage.before, w, 2, [](const Complex* a, Complex* y) {
                y[0] = a[0] + a[1];
                y[1] = a[0] - a[1];
            });
            break;
        case 4:
            pass<4>(in, out, n_, stage.before, w, 4, [](const Complex* a, Complex* y) {
                const Complex even_sum = a[0] + a[2], even_diff = a[0] - a[2];
                const Complex odd_sum = a[1] + a[3], odd_diff = times_minus_i(a[1] - a[3]);
                y[0] = even_sum + odd_sum;
                y[1] = even_diff + odd_diff;
                y[2] = even_sum - odd_sum;
                y[3] = even_diff - odd_diff;
            });
            break;
        case 3: {
            const OddButterfly b(3);
            pass<3>(in, out, n_, stage.before, w, 3, [&](const Complex* a, Complex* y) { b.apply<3>(a, y); });
            break;
        }
        case 5: {
            const OddButterfly b(5);
            pass<5>(in, out, n_, stage.before, w, 5, [&](const Complex* a, Complex* y) { b.apply<5>(a, y); });
            break;
        }
        default: {
            const OddButterfly b(stage.radix);
            pass<0>(in, out, n_, stage.before, w, stage.radix, [&](const Complex* a, Complex* y) {
                // A direct sum for the rare larger radices.
                for (unsigned u = 0; u < b.p; ++u) {
                    Complex total{};
                    for (unsigned q = 0; q < b.p; ++q) {
                        const unsigned j = (q * u) % b.p;
                        total = total + a[q] * Complex{b.cosines[j], -b.sines[j]};
                    }
                    y[u] = total;
                }
            });
        }
        }
        std::swap(in, out);
    }
    if (in != data) {
        for (std::size_t i = 0; i < n_; ++i) data[i] = in[i];
    }
}

void ComplexFft::bluestein(Complex* data, Complex* scratch) const {
    const std::size_t m = inner_->size();
    Complex* work = scratch;
    Complex* inner_scratch = scratch + m;
    for (std::size_t j = 0; j < n_; ++j) work[j] = data[j] * chirp_[j];
    for (std::size_t j = n_; j < m; ++j) work[j] = Complex{};
    inner_->transform(work, inner_scratch);
    // The inverse transform as the conjugate of the forward one of the conjugate.
    for (std::size_t j = 0; j < m; ++j) work[j] = conjugate(work[j] * kernel_[j]);
    inner_->transform(work, inner_scratch);
    for (std::size_t k = 0; k < n_; ++k) data[k] = conjugate(work[k]) * chirp_[k];
}

RealSpectrum::RealSpectrum(std::size_t n) : n_(n), half_(n % 2 == 0 ? n / 2 : n) {
    if (n % 2 == 0) {
        unpacking_.resize(n / 2);
        for (std::size_t j = 0; j < n / 2; ++j) unpacking_[j] = root(j, n);
    }
}

void RealSpectrum::moduli(const double* x, double* out) const {
    const std::size_t h = half_.size();
    std::vector<Complex> z(h), scratch(half_.scratch_size());
    if (n_ % 2) {
        for (std::size_t j = 0; j < n_; ++j) z[j] = {x[j], 0.0};
        half_.transform(z.data(), scratch.data());
        for (std::size_t j = 0; j < n_ / 2; ++j) out[j] = std::sqrt(z[j].re * z[j].re + z[j].im * z[j].im);
        return;
    }
    // Even and odd values as one complex sequence; their spectra separate by symmetry.
    for (std::size_t k = 0; k < h; ++k) z[k] = {x[2 * k], x[2 * k + 1]};
    half_.transform(z.data(), scratch.data());
    for (std::size_t j = 0; j < h; ++j) {
        const Complex here = z[j], mirror = conjugate(z[j == 0 ? 0 : h - j]);
        const Complex even = (here + mirror) * 0.5;
        const Complex odd = times_minus_i(here - mirror) * 0.5;
        const Complex value = even + unpacking_[j] * odd;
        out[j] = std::sqrt(value.re * value.re + value.im * value.im);
    }
}

}  // namespace veltrane::sp800_22
