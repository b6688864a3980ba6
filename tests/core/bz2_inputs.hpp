// Inputs for the bz2_length tests: sample sequences of the kinds SP 800-90B
// sees (and the awkward ones), and byte texts with runs of every length.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace bz2_inputs {

using Bytes = std::vector<std::uint8_t>;

enum class Kind { bytes, bits, nibbles, skewed, constant, periodic, walk, digit_runs, count };
inline const char* name(Kind k) {
    static const char* names[] = {"8-bit", "bits", "4-bit", "skewed", "constant", "periodic", "walk", "digit runs"};
    return names[static_cast<int>(k)];
}

// n samples of a kind. Skewed: a geometric law (half of them 0, a quarter 1,
// ...); periodic: a random pattern of 2 to 9 values repeated; walk: steps of
// -1, 0, +1; digit runs: values spelt with repeated digits (0, 11, 111, 100,
// 255, ...), so that the encoder's run-length stage meets the block cuts.
inline Bytes samples(Kind kind, std::size_t n, std::mt19937_64& rng) {
    Bytes v(n);
    const std::uint8_t fixed = static_cast<std::uint8_t>(rng());
    Bytes pattern(2 + rng() % 8);
    for (auto& p : pattern) p = static_cast<std::uint8_t>(rng());
    static const std::uint8_t runs[] = {0, 1, 11, 111, 100, 200, 255, 155, 22, 222, 110, 211, 5, 55, 33};
    std::uint8_t at = 128;
    for (std::size_t i = 0; i < n; ++i) {
        switch (kind) {
            case Kind::bytes: v[i] = static_cast<std::uint8_t>(rng()); break;
            case Kind::bits: v[i] = rng() & 1; break;
            case Kind::nibbles: v[i] = rng() & 15; break;
            case Kind::skewed: {
                int k = 0;
                while (k < 255 && (rng() & 1)) ++k;
                v[i] = static_cast<std::uint8_t>(k);
                break;
            }
            case Kind::constant: v[i] = fixed; break;
            case Kind::periodic: v[i] = pattern[i % pattern.size()]; break;
            case Kind::walk: at = static_cast<std::uint8_t>(at + static_cast<int>(rng() % 3) - 1), v[i] = at; break;
            default: v[i] = runs[rng() % sizeof runs]; break;
        }
    }
    return v;
}

// n bytes: random bytes with runs of random length (1 to 300) of random
// values drawn from `alphabet` values. (Every draw is its own statement, so
// that the inputs do not depend on the compiler's order of evaluation.)
inline Bytes text_with_runs(std::size_t n, int alphabet, std::size_t longest_run, std::mt19937_64& rng) {
    Bytes t;
    while (t.size() < n) {
        const std::uint8_t b = static_cast<std::uint8_t>(rng() % alphabet * (256 / alphabet));
        const std::size_t longest = rng() % 4 == 0 ? longest_run : 3;
        const std::size_t run = 1 + rng() % longest;
        t.insert(t.end(), std::min(run, n - t.size()), b);
    }
    return t;
}

}  // namespace bz2_inputs
