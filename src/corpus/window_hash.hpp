// Rolling hashes of fixed-length windows, modulo the prime 2^61 - 1 with a
// random base: two different windows collide with probability about
// length / 2^61 whatever the bytes, so the lookups built on it stay fast on
// inputs made to collide (sums modulo 2^64 collide on Thue-Morse blocks for
// most bases). Every match is still confirmed byte for byte by its users.
#pragma once

#include <array>
#include <cstdint>
#include <random>

namespace veltrane::corpus {

class WindowHash {
public:
    static constexpr std::uint64_t MODULUS = (std::uint64_t{1} << 61) - 1;

    explicit WindowHash(std::uint64_t length) : length_(length) {
        std::random_device seed;
        base_ = (((std::uint64_t{seed()} << 32) | seed()) % (MODULUS - 1024)) + 512;
        std::uint64_t top = 1;  // base^(length - 1)
        for (std::uint64_t e = length - 1, b = base_; e != 0; e >>= 1, b = multiply(b, b)) {
            if (e & 1) top = multiply(top, b);
        }
        for (unsigned c = 0; c < 256; ++c) leaving_[c] = MODULUS - multiply(c + 1, top);
    }

    // The hash of the window at s.
    std::uint64_t of(const std::uint8_t* s) const {
        std::uint64_t h = 0;
        for (std::uint64_t i = 0; i < length_; ++i) h = add(multiply(h, base_), s[i] + 1u);
        return h;
    }
    // From the hash of the window at s to that of the window at s + 1.
    std::uint64_t roll(std::uint64_t h, const std::uint8_t* s) const {
        return add(multiply(add(h, leaving_[s[0]]), base_), s[length_] + 1u);
    }

private:
    static std::uint64_t multiply(std::uint64_t a, std::uint64_t b) {
        const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
        return add(static_cast<std::uint64_t>(product & MODULUS), static_cast<std::uint64_t>(product >> 61));
    }
    static std::uint64_t add(std::uint64_t a, std::uint64_t b) {
        const std::uint64_t sum = a + b;
        return sum >= MODULUS ? sum - MODULUS : sum;
    }

    std::uint64_t length_;
    std::uint64_t base_;
    std::array<std::uint64_t, 256> leaving_{};  // -(c + 1) * base^(length - 1)
};

}  // namespace veltrane::corpus
