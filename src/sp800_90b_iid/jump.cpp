#include "sp800_90b_iid/jump.hpp"

#include <bitset>

namespace veltrane::sp800_90b::iid {

namespace {

constexpr unsigned DEGREE = 256;
using Poly = std::bitset<2 * DEGREE>;  // coefficient of x^i at bit i

// The characteristic polynomial of the transition, found once by Berlekamp-
// Massey from one bit of the state over 512 steps: the period is 2^256 - 1,
// so the polynomial is primitive and every nonzero bit sequence has it as its
// minimal polynomial.
Poly characteristic_polynomial() {
    Xoshiro256 g(Xoshiro256::State{1, 2, 3, 4});
    std::bitset<2 * DEGREE> bits;
    for (unsigned i = 0; i < 2 * DEGREE; ++i) {
        bits[i] = g.state()[0] & 1;
        g.next();
    }
    Poly c, b;  // connection polynomials: c(x) = 1 + c_1 x + ...
    c[0] = b[0] = 1;
    unsigned length = 0, shift = 1;
    for (unsigned n = 0; n < 2 * DEGREE; ++n) {
        bool discrepancy = bits[n];
        for (unsigned i = 1; i <= length; ++i) discrepancy ^= c[i] & bits[n - i];
        if (!discrepancy) {
            ++shift;
        } else if (2 * length <= n) {
            const Poly before = c;
            c ^= b << shift;
            length = n + 1 - length;
            b = before;
            shift = 1;
        } else {
            c ^= b << shift;
            ++shift;
        }
    }
    // The characteristic polynomial is the reciprocal of the connection one.
    Poly p;
    for (unsigned i = 0; i <= length; ++i) p[length - i] = c[i];
    return p;
}

const Poly& characteristic() {
    static const Poly p = characteristic_polynomial();
    return p;
}

// a * b mod the characteristic polynomial, both of degree below 256.
Poly multiply_mod(const Poly& a, const Poly& b) {
    Poly product;
    for (unsigned i = 0; i < DEGREE; ++i) {
        if (a[i]) product ^= b << i;
    }
    const Poly& p = characteristic();
    for (unsigned i = 2 * DEGREE - 1; i >= DEGREE; --i) {
        if (product[i]) product ^= p << (i - DEGREE);
    }
    return product;
}

}  // namespace

Jump::Jump(std::uint64_t steps) {
    Poly result, base;
    result[0] = 1;
    base[1] = 1;  // x
    for (; steps != 0; steps >>= 1) {
        if (steps & 1) result = multiply_mod(result, base);
        base = multiply_mod(base, base);
    }
    for (unsigned i = 0; i < DEGREE; ++i) {
        if (result[i]) polynomial_[i / 64] |= std::uint64_t{1} << (i % 64);
    }
}

Xoshiro256::State Jump::apply(const Xoshiro256::State& state) const noexcept {
    Xoshiro256 g(state);
    Xoshiro256::State sum{};
    for (unsigned i = 0; i < DEGREE; ++i) {
        if (polynomial_[i / 64] >> (i % 64) & 1) {
            for (int w = 0; w < 4; ++w) sum[w] ^= g.state()[w];
        }
        g.next();
    }
    return sum;
}

}  // namespace veltrane::sp800_90b::iid
