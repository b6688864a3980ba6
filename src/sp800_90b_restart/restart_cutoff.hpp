// The restart test's sanity check (SP 800-90B 3.1.4.3): its significance level and
// the cutoff the largest count of one value in a row or column must not exceed.
//
// The cutoff is the (1 - alpha) quantile of the largest count among `draws`
// independent draws from the inverted near-uniform distribution of min-entropy h:
// floor(1/p) values of probability p = 2^-h and, when something remains, one more
// value with the rest. It is computed exactly from the distribution (see
// max_count_probability), so the same h always gives the same cutoff; NIST's tool
// estimates the quantile by simulation, and agrees on every recorded case.
#pragma once

#include <cstdint>

namespace veltrane::sp800_90b {

// The scaled arithmetic keeps every coefficient within double range up to here
// (see restart_cutoff.cpp); the restart test itself draws 1000.
inline constexpr std::uint64_t RESTART_MAX_DRAWS = 2000;

// alpha = 1 - 0.99^(1 / (2 * restarts)), evaluated as NIST's tool does (in double,
// the subtraction last), so that 1000 restarts give its 5.0251553006530614e-06 to
// the last bit. Throws std::invalid_argument for 0 restarts.
double restart_alpha(std::uint64_t restarts = 1000);

// P(max count <= x) for `draws` draws from the distribution of min-entropy h, to
// about 1e-12: draws! [t^draws] prod_i sum_{j<=x} (p_i t)^j / j!. Throws
// std::invalid_argument for h outside (0, 8] or not finite, or draws outside
// [1, RESTART_MAX_DRAWS].
double max_count_probability(double h, std::uint64_t x, std::uint64_t draws = 1000);

// The smallest x with P(max count <= x) >= 1 - alpha. Throws std::invalid_argument
// as max_count_probability does, and for alpha outside (0, 1) or not finite.
std::uint64_t restart_cutoff(double h, double alpha, std::uint64_t draws = 1000);

}  // namespace veltrane::sp800_90b
