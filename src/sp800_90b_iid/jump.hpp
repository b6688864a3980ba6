// Jumping the random stream ahead without drawing: xoshiro256** is linear over
// GF(2), so its state k steps ahead is p(T) applied to the state, p = x^k mod
// the transition's characteristic polynomial, which takes 256 steps instead of
// k. The permutation test uses it to draw a round's indices in several lanes,
// each starting where the stream will be when the one before it ends.
#pragma once

#include <array>
#include <cstdint>

#include "sp800_90b_iid/xoshiro.hpp"

namespace veltrane::sp800_90b::iid {

class Jump {
public:
    // The jump of `steps` draws of next().
    explicit Jump(std::uint64_t steps);
    Xoshiro256::State apply(const Xoshiro256::State& state) const noexcept;

private:
    std::array<std::uint64_t, 4> polynomial_{};  // coefficients of x^0 .. x^255
};

}  // namespace veltrane::sp800_90b::iid
