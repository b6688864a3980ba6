// The random stream of the permutation test: xoshiro256** 1.0, and the draw
// of an index in [0, i] that NIST's tool makes from it, so that a seed gives
// the tool's shuffles exactly.
#pragma once

#include <array>
#include <cstdint>

namespace veltrane::sp800_90b::iid {

// The 32 seed bytes, read as four little-endian 64-bit words, are the state.
using Seed = std::array<std::uint8_t, 32>;

// All zeros is the one state the generator never leaves: it would draw zeros
// for ever (and the draw of an index would never end).
inline bool usable(const Seed& seed) noexcept {
    for (std::uint8_t b : seed) {
        if (b != 0) return true;
    }
    return false;
}

class Xoshiro256 {
public:
    using State = std::array<std::uint64_t, 4>;

    explicit Xoshiro256(const Seed& seed) noexcept {
        for (int w = 0; w < 4; ++w) {
            std::uint64_t word = 0;
            for (int b = 7; b >= 0; --b) word = (word << 8) | seed[8 * w + b];
            s_[w] = word;
        }
    }
    explicit Xoshiro256(const State& state) noexcept : s_(state) {}

    std::uint64_t next() noexcept {
        const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const std::uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }

    // A uniform index in [0, i] by the multiply-and-reject method: the high word
    // of x * (i + 1), drawing again while the low word falls in the biased
    // sliver below (2^64 - (i + 1)) mod (i + 1). The sliver is tested only when
    // the low word is below i + 1, which for the sizes shuffled here happens
    // about once in 10^13 draws.
    std::uint64_t draw(std::uint64_t i) noexcept {
        const std::uint64_t s = i + 1;
        unsigned __int128 m = static_cast<unsigned __int128>(next()) * s;
        if (static_cast<std::uint64_t>(m) < s) {
            const std::uint64_t t = (0 - s) % s;
            while (static_cast<std::uint64_t>(m) < t) m = static_cast<unsigned __int128>(next()) * s;
        }
        return static_cast<std::uint64_t>(m >> 64);
    }

    const State& state() const noexcept { return s_; }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) noexcept { return (x << k) | (x >> (64 - k)); }
    State s_;
};

}  // namespace veltrane::sp800_90b::iid
