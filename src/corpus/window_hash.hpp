// Rolling hashes of fixed-length windows, modulo the prime 2^61 - 1 with a
// random base: two different windows collide with probability about
// length / 2^61 whatever the bytes, so the lookups built on it stay fast on
// inputs made to collide (sums modulo 2^64 collide on Thue-Morse blocks for
// most bases). Every match is still confirmed byte for byte by its users.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <random>

#include "corpus/corpus_text.hpp"
#include "pool/cancel.hpp"

namespace veltrane::corpus {

class WindowHash {
public:
    static constexpr std::uint64_t MODULUS = (std::uint64_t{1} << 61) - 1;

    explicit WindowHash(std::uint64_t length) : WindowHash(length, random_base()) {}
    // With a base the caller draws: the shards of a cluster run hash with one
    // base, so that equal windows anywhere have equal hashes (and a test can
    // hand it a base that makes windows collide).
    WindowHash(std::uint64_t length, std::uint64_t base) : length_(length), base_(base % MODULUS) {
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

    // A base far from the degenerate ones (0, 1 and their neighbours).
    static std::uint64_t random_base() { return (fresh_seed() % (MODULUS - 1024)) + 512; }

private:
    // A new 64-bit number for every hash: the system's randomness once per
    // process (opening it costs as much as hashing a small corpus), stepped
    // through SplitMix64 from there.
    static std::uint64_t fresh_seed() {
        static std::atomic<std::uint64_t> state = [] {
            std::random_device device;
            return (std::uint64_t{device()} << 32) | device();
        }();
        std::uint64_t z = state.fetch_add(0x9E3779B97F4A7C15ull, std::memory_order_relaxed) + 0x9E3779B97F4A7C15ull;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

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

// Calls f(p, hash) for every window (inside one document) starting in
// [begin, end), ascending.
template <class F>
void for_each_window_hash(const CorpusText& text, const WindowHash& hash, std::uint64_t length, std::uint64_t begin,
                          std::uint64_t end, F&& f) {
    for_each_window_run(text, length, begin, end, [&](std::uint64_t first, std::uint64_t stop) {
        std::uint64_t h = hash.of(text.bytes + first);
        for (std::uint64_t p = first;; h = hash.roll(h, text.bytes + p++)) {
            if ((p & 0xFFFF) == 0) pool::checkpoint();
            f(p, h);
            if (p + 1 == stop) break;
        }
    });
}

}  // namespace veltrane::corpus
