// The distribution tails the p-values come from: the regularised incomplete
// gamma functions (the chi-square tail is igamc(df/2, chi2/2)) and the
// standard normal distribution. erfc itself is the C library's.
#pragma once

namespace veltrane::sp800_22 {

// Q(a, x) = Gamma(a, x) / Gamma(a), the upper tail; 1 for x <= 0 or a <= 0.
double igamc(double a, double x);
// P(a, x) = 1 - Q(a, x), the lower tail; 0 for x <= 0 or a <= 0.
double igam(double a, double x);
// Phi(x), the standard normal distribution function.
double normal_cdf(double x);

}  // namespace veltrane::sp800_22
