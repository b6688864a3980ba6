// A round's Fisher-Yates indices drawn ahead of its swaps, in lanes: the n - 1
// draws of a round are cut into stretches, each started from the stream jumped
// to where the stretch before it ends, and drawn side by side (eight streams in
// AVX-512 registers, or four in AVX2 ones, where the processor has them). The
// swaps, the part that must follow the rounds one by one, then only read the
// indices.
//
// A draw rejects (draws again) about once in 10^13 at these sizes, shifting
// every stretch after it; a round where any draw comes near that is drawn
// again one by one, so the indices are always exactly those of the tool.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sp800_90b_iid/jump.hpp"
#include "sp800_90b_iid/xoshiro.hpp"

namespace veltrane::sp800_90b::iid {

inline constexpr unsigned MAX_LANES = 8;

// The draws of rounds of n samples: 2 <= n <= 2^32.
class RoundDraws {
public:
    // `lanes`: 1, 4 (AVX2) or 8 (AVX-512), at most what lanes_here() says.
    explicit RoundDraws(std::size_t n, unsigned lanes = lanes_here());

    // Fills to[p] with the draw for i = n-1-p, p = 0 .. n-2 (the draws in
    // stream order) from the stream at `start`, and returns the stream's
    // state after them.
    Xoshiro256::State draw(const Xoshiro256::State& start, std::uint32_t* to) const;

    // The most lanes this processor draws side by side.
    static unsigned lanes_here() noexcept;

private:
    std::size_t n_;
    unsigned lanes_;
    std::size_t stretch_;  // draws per lane; the last lane takes the rest
    Jump jump_;            // stretch_ draws ahead
};

// The indices of a round applied: swaps a[n-1-p] and a[to[p]] for p = 0 .. n-2.
void swap_by(std::uint8_t* a, const std::uint32_t* to, std::size_t n);

}  // namespace veltrane::sp800_90b::iid
