#include "sp800_22/fft.hpp"

#include <cmath>
#include <numbers>
#include <stdexcept>

namespace veltrane::sp800_22 {

namespace {

constexpr unsigned LARGEST_RADIX = 31;

inline Complex times_minus_i(Complex a) { return {a.im, -a.re}; }

// e^(-2 pi i num / den), num reduced below den first so that the angle is exact to its last bit.
Complex root(std::size_t num, std::size_t den) {
    const double angle = -2.0 * std::numbers::pi * static_cast<double>(num % den) / static_cast<double>(den);
    return {std::cos(angle), std::sin(angle)};
}

// The DFT of P values, P odd: pairs a_q, a_{P-q} share their cosines and sines.
template <unsigned P>
void odd_butterfly(const Complex* a, Complex* y, const double* cosines, const double* sines) {
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

// Where radix p's cosines and sines start in their tables: after those of every smaller radix.
constexpr std::size_t table_at(unsigned p) { return std::size_t{p} * (p - 1) / 2; }

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

ComplexFft::ComplexFft(std::size_t n)
    : n_(n), cosines_(table_at(LARGEST_RADIX + 1)), sines_(table_at(LARGEST_RADIX + 1)) {
    if (n == 0) throw std::invalid_argument("a transform of no values");
    // Odd factors at the top, where the transforms are largest; fours and twos
    // at the leaves. Lengths with a larger prime factor go through Bluestein.
    std::vector<unsigned> radices;
    std::size_t rest = n;
    unsigned twos = 0;
    while (rest % 2 == 0) ++twos, rest /= 2;
    while (rest > 1) {
        const std::size_t f = smallest_factor(rest);
        if (f > LARGEST_RADIX) {
            const std::size_t m = smooth_at_least(2 * n - 1);
            inner_ = std::make_unique<ComplexFft>(m);
            chirp_.resize(n);
            for (std::size_t j = 0; j < n; ++j) {
                const auto square = static_cast<unsigned __int128>(j) * j % (2 * n);
                chirp_[j] = root(static_cast<std::size_t>(square), 2 * n);
            }
            std::vector<Complex> b(m);
            b[0] = conjugate(chirp_[0]);
            for (std::size_t j = 1; j < n; ++j) b[j] = b[m - j] = conjugate(chirp_[j]);
            kernel_.resize(m);
            inner_->transform(ArrayLoad{b.data()}, kernel_.data());
            for (Complex& k : kernel_) k = k * (1.0 / static_cast<double>(m));
            return;
        }
        radices.push_back(static_cast<unsigned>(f));
        rest /= f;
    }
    if (twos % 2) radices.push_back(2);
    for (unsigned i = 0; i < twos / 2; ++i) radices.push_back(4);
    if (radices.empty()) radices.push_back(1);
    std::size_t size = n;
    for (unsigned p : radices) {
        levels_.push_back({p, size, twiddles_.size()});
        for (std::size_t k = 0; k < size / p; ++k) {
            for (unsigned q = 1; q < p; ++q) twiddles_.push_back(root(q * k, size));
        }
        for (unsigned j = 0; j < p; ++j) {
            cosines_[table_at(p) + j] = std::cos(2.0 * std::numbers::pi * j / p);
            sines_[table_at(p) + j] = std::sin(2.0 * std::numbers::pi * j / p);
        }
        size /= p;
    }
}

ComplexFft::~ComplexFft() = default;

namespace {

// The small DFTs, inlined into the loops that call them for a fixed radix.
template <unsigned P>
inline void fixed_butterfly(const Complex* a, Complex* y, const double* cosines, const double* sines) {
    if constexpr (P == 2) {
        y[0] = a[0] + a[1];
        y[1] = a[0] - a[1];
    } else if constexpr (P == 4) {
        const Complex even_sum = a[0] + a[2], even_diff = a[0] - a[2];
        const Complex odd_sum = a[1] + a[3], odd_diff = times_minus_i(a[1] - a[3]);
        y[0] = even_sum + odd_sum;
        y[1] = even_diff + odd_diff;
        y[2] = even_sum - odd_sum;
        y[3] = even_diff - odd_diff;
    } else {
        odd_butterfly<P>(a, y, cosines, sines);
    }
}

template <unsigned P>
void combine_fixed(Complex* out, std::size_t m, const Complex* w, const double* cosines, const double* sines) {
    Complex a[P], y[P];
    for (unsigned q = 0; q < P; ++q) a[q] = out[q * m];
    fixed_butterfly<P>(a, y, cosines, sines);
    for (unsigned u = 0; u < P; ++u) out[u * m] = y[u];
    for (std::size_t k = 1; k < m; ++k) {
        const Complex* wk = w + k * (P - 1);
        a[0] = out[k];
        for (unsigned q = 1; q < P; ++q) a[q] = out[q * m + k] * wk[q - 1];
        fixed_butterfly<P>(a, y, cosines, sines);
        for (unsigned u = 0; u < P; ++u) out[u * m + k] = y[u];
    }
}

}  // namespace

void ComplexFft::butterfly(unsigned p, const Complex* a, Complex* y) const {
    const double* cosines = &cosines_[table_at(p)];
    const double* sines = &sines_[table_at(p)];
    switch (p) {
    case 1: y[0] = a[0]; return;
    case 2: fixed_butterfly<2>(a, y, cosines, sines); return;
    case 3: fixed_butterfly<3>(a, y, cosines, sines); return;
    case 4: fixed_butterfly<4>(a, y, cosines, sines); return;
    case 5: fixed_butterfly<5>(a, y, cosines, sines); return;
    default:
        // A direct sum for the rare larger radices.
        for (unsigned u = 0; u < p; ++u) {
            Complex total{};
            for (unsigned q = 0; q < p; ++q) {
                const unsigned j = (q * u) % p;
                total = total + a[q] * Complex{cosines[j], -sines[j]};
            }
            y[u] = total;
        }
    }
}

void ComplexFft::combine(const Level& l, Complex* out) const {
    const unsigned p = l.radix;
    const std::size_t m = l.size / p;
    const Complex* w = twiddles_.data() + l.twiddle_offset;
    const double* cosines = &cosines_[table_at(p)];
    const double* sines = &sines_[table_at(p)];
    switch (p) {
    case 2: combine_fixed<2>(out, m, w, cosines, sines); return;
    case 3: combine_fixed<3>(out, m, w, cosines, sines); return;
    case 4: combine_fixed<4>(out, m, w, cosines, sines); return;
    case 5: combine_fixed<5>(out, m, w, cosines, sines); return;
    default: break;
    }
    Complex a[LARGEST_RADIX + 1], y[LARGEST_RADIX + 1];
    for (std::size_t k = 0; k < m; ++k, w += p - 1) {
        a[0] = out[k];
        for (unsigned q = 1; q < p; ++q) a[q] = k == 0 ? out[q * m] : out[q * m + k] * w[q - 1];
        butterfly(p, a, y);
        for (unsigned u = 0; u < p; ++u) out[u * m + k] = y[u];
    }
}

RealSpectrum::RealSpectrum(std::size_t n) : n_(n), half_(n % 2 == 0 ? n / 2 : n) {
    if (n % 2 == 0) {
        unpacking_.resize(n / 2);
        for (std::size_t j = 0; j < n / 2; ++j) unpacking_[j] = root(j, n);
    }
}

double RealSpectrum::modulus(Complex c) { return std::sqrt(c.re * c.re + c.im * c.im); }

void RealSpectrum::unpack(const Complex* z, double* out) const {
    const std::size_t h = half_.size();
    for (std::size_t j = 0; j < h; ++j) {
        const Complex here = z[j], mirror = conjugate(z[j == 0 ? 0 : h - j]);
        const Complex even = (here + mirror) * 0.5;
        const Complex odd = times_minus_i(here - mirror) * 0.5;
        out[j] = modulus(even + unpacking_[j] * odd);
    }
}

}  // namespace veltrane::sp800_22
