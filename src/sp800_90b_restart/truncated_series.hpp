// Power series cut off above a degree: the factors of the generating function
// behind the restart cutoff, and their products.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veltrane::sp800_90b::restart {

// The coefficient of t^i at index i; never empty. Trailing coefficients that
// underflowed to 0 are dropped, so the size is one more than the degree that matters.
using Series = std::vector<double>;

// sum over j <= min(x, top) of (c t)^j / j!.
Series truncated_exponential(double c, std::uint64_t x, std::size_t top);

// a * b without the terms above t^top.
Series product(const Series& a, const Series& b, std::size_t top);

// The coefficient of t^n in a * b (one term of the product, without the others).
double coefficient(const Series& a, const Series& b, std::size_t n);

}  // namespace veltrane::sp800_90b::restart
