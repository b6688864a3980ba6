// The random excursions tests: the ±1 walk cut into cycles at its returns to
// zero; how many cycles visit each state near zero k times (random
// excursions, states ±1..±4), and how often the whole walk visits each state
// (the variant, states ±1..±9). Neither applies to a walk of fewer cycles
// than max(500, 0.005 sqrt(n)).
#pragma once

#include <cstdint>

#include "sp800_22/bits.hpp"
#include "sp800_22/figures.hpp"

namespace veltrane::sp800_22 {

// The fewest cycles the tests apply to.
double excursion_constraint(std::uint64_t n);

// P(a cycle visits state x exactly k times), k = 0..4, and 5 or more; in
// compatible mode rounded to ten decimals, as NIST's program's table has them.
double excursion_probability(int x, unsigned k, bool compatible = false);

struct Excursions {
    RandomExcursionsFigures excursions;
    RandomExcursionsVariantFigures variant;
};

// Both tests from one walk.
Excursions excursion_tests(const Bits& bits, bool compatible);

}  // namespace veltrane::sp800_22
