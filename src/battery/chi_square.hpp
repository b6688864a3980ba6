// Upper-tail probabilities of the chi-square distribution.
#pragma once

namespace veltrane::battery {

// Q(df/2, chi2/2), the regularised upper incomplete gamma function: the
// probability that a chi-square variable with df >= 1 degrees of freedom
// exceeds chi2. Exact up to rounding: the closed forms for integer and
// half-integer shape (a Poisson sum, or erfc plus a sum of positive terms),
// evaluated in extended precision, so no cancellation anywhere; from
// chi2 = 22000 on, where e^-chi2/2 underflows even extended precision but the
// answer need not (df of that size), the series or continued fraction of
// upper_gamma_by_logs. 1.0 for chi2 <= 0, NaN for NaN. O(df). Throws
// std::invalid_argument for df == 0.
double chi_square_survival(unsigned df, double chi2);

// Q(a, x) for a, x > 0 from the power series of P (x < a + 1) or the continued
// fraction of Q, with the factor x^a e^-x / Gamma(a) taken in logarithms:
// relative error about 1e-14 for a and x up to 10^6. O(sqrt(a)) terms near the
// peak.
long double upper_gamma_by_logs(long double a, long double x);

// The same probability as ent computes it: the Hill-Pike series with
// Ibbetson's polynomial normal integral, its terms below e^-20 dropped in the
// logarithmic branch. It differs from the exact value in the eighth digit or
// so, which moves the percent ent prints about once in 30,000 inputs; only
// the ent-compatible output uses it. 1.0 for chi2 <= 0 or df == 0.
double ent_chi_square_survival(unsigned df, double chi2);

// Ibbetson's approximation of the standard normal integral Phi(z), accurate
// to about 1e-9 (exposed for its tests).
double ibbetson_normal_cdf(double z);

}  // namespace veltrane::battery
