#include "battery/chi_square.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace veltrane::battery {

namespace {

// e^-x underflows long double from here on: the closed forms, built from it,
// would give 0 however large the sum of their terms (which df in the tens of
// thousands, as the IID track's independence test has, makes enormous).
constexpr long double CLOSED_FORM_LIMIT = 11000.0L;

}  // namespace

long double upper_gamma_by_logs(long double a, long double x) {
    // The factor x^a e^-x / Gamma(a) in logarithms; a few terms past the peak of
    // the series (x < a + 1) or of the continued fraction (beyond) suffice.
    const long double factor = std::exp(a * std::log(x) - x - std::lgamma(a));
    constexpr long double EPSILON = 1e-21L;
    if (x < a + 1.0L) {
        // P(a, x) = factor * sum_n x^n / (a (a + 1) ... (a + n)); Q = 1 - P, which
        // is at least 1/2 or so here, so nothing cancels.
        long double term = 1.0L / a, sum = term;
        for (long double n = 1.0L; term > sum * EPSILON; n += 1.0L) {
            term *= x / (a + n);
            sum += term;
        }
        return 1.0L - factor * sum;
    }
    // Q(a, x) = factor * 1 / (x + 1 - a - 1 (1 - a) / (x + 3 - a - ...)), by
    // the modified Lentz method.
    constexpr long double TINY = 1e-4000L;
    long double b = x + 1.0L - a, c = 1.0L / TINY, d = 1.0L / b, h = d;
    for (long double i = 1.0L;; i += 1.0L) {
        const long double an = -i * (i - a);
        b += 2.0L;
        d = an * d + b;
        if (std::fabs(d) < TINY) d = TINY;
        c = b + an / c;
        if (std::fabs(c) < TINY) c = TINY;
        d = 1.0L / d;
        const long double step = d * c;
        h *= step;
        if (std::fabs(step - 1.0L) < EPSILON) break;
    }
    return factor * h;
}

double chi_square_survival(unsigned df, double chi2) {
    if (df == 0) throw std::invalid_argument("a chi-square distribution needs at least one degree of freedom");
    if (std::isnan(chi2)) return chi2;
    if (chi2 <= 0.0) return 1.0;
    if (std::isinf(chi2)) return 0.0;
    if (static_cast<long double>(chi2) / 2 >= CLOSED_FORM_LIMIT) {
        return static_cast<double>(upper_gamma_by_logs(df / 2.0L, static_cast<long double>(chi2) / 2));
    }
    // Long double carries 64 significant bits on x86: the exponent of a term,
    // a difference of numbers up to about 1500 (beyond, the result underflows),
    // then costs less than one double rounding.
    const long double x = static_cast<long double>(chi2) / 2;
    const unsigned terms = (df - 1) / 2;  // x^k or x^(k+1/2) terms after the first part
    long double sum = 0;
    long double term;
    if (df % 2 == 0) {
        // Q(m, x) = e^-x * sum_{k<m} x^k / k!, m = df/2.
        term = std::exp(-x);
        sum = term;
        for (unsigned k = 1; k <= terms; ++k) {
            term = term * x / k;
            sum += term;
        }
        return static_cast<double>(sum);
    }
    // Q(m + 1/2, x) = erfc(sqrt x) + e^-x * sum_{k<m} x^(k+1/2) / Gamma(k + 3/2).
    if (terms > 0) {
        term = std::exp(-x + 0.5L * std::log(x) - std::lgamma(1.5L));
        sum = term;
        for (unsigned k = 1; k < terms; ++k) {
            term = term * x / (k + 0.5L);
            sum += term;
        }
    }
    return static_cast<double>(std::erfc(std::sqrt(x)) + sum);
}

double ibbetson_normal_cdf(double z) {
    constexpr double Z_MAX = 6.0;  // |z| beyond this gives 0 or 1 exactly
    double x;
    if (z == 0.0) {
        x = 0.0;
    } else {
        double y = 0.5 * std::fabs(z);
        if (y >= Z_MAX * 0.5) {
            x = 1.0;
        } else if (y < 1.0) {
            const double w = y * y;
            x = ((((((((0.000124818987 * w - 0.001075204047) * w + 0.005198775019) * w - 0.019198292004) * w +
                      0.059054035642) * w - 0.151968751364) * w + 0.319152932694) * w - 0.531923007300) * w +
                 0.797884560593) * y * 2.0;
        } else {
            y -= 2.0;
            x = (((((((((((((-0.000045255659 * y + 0.000152529290) * y - 0.000019538132) * y - 0.000676904986) * y +
                           0.001390604284) * y - 0.000794620820) * y - 0.002034254874) * y + 0.006549791214) * y -
                        0.010557625006) * y + 0.011630447319) * y - 0.009279453341) * y + 0.005353579108) * y -
                     0.002141268741) * y + 0.000535310849) * y + 0.999936657524;
        }
    }
    return z > 0.0 ? ((x + 1.0) * 0.5) : ((1.0 - x) * 0.5);
}

namespace {

// The series' cut-off: terms below e^-BIG_X count as zero.
constexpr double BIG_X = 20.0;
constexpr double LOG_SQRT_PI = 0.5723649429247000870717135;  // log(sqrt(pi))
constexpr double I_SQRT_PI = 0.5641895835477562869480795;    // 1 / sqrt(pi)

double exp_or_zero(double x) { return x < -BIG_X ? 0.0 : std::exp(x); }

}  // namespace

double ent_chi_square_survival(unsigned df, double chi2) {
    if (chi2 <= 0.0 || df < 1) return 1.0;
    const double a = 0.5 * chi2;
    const bool even = df % 2 == 0;
    double y = 0.0;
    if (df > 1) y = exp_or_zero(-a);
    double s = even ? y : 2.0 * ibbetson_normal_cdf(-std::sqrt(chi2));
    if (df <= 2) return s;
    // Terms a^z e^-a / Gamma(z + 1) for z = 1/2, 3/2, ... (odd df) or 1, 2, ...
    // (even df) up to (df - 2) / 2.
    const double last = 0.5 * (df - 1.0);
    double z = even ? 1.0 : 0.5;
    if (a > BIG_X) {
        // In logarithms: e is log Gamma(z + 1), built up one factor at a time.
        double e = even ? 0.0 : LOG_SQRT_PI;
        const double c = std::log(a);
        while (z <= last) {
            e = std::log(z) + e;
            s = s + exp_or_zero(c * z - a - e);
            z = z + 1.0;
        }
        return s;
    }
    double e = even ? 1.0 : I_SQRT_PI / std::sqrt(a);
    double c = 0.0;
    while (z <= last) {
        e = e * (a / z);
        c = c + e;
        z = z + 1.0;
    }
    return c * y + s;
}

}  // namespace veltrane::battery
