// What the tuple count suites share: inputs of a given bias, and the tuple
// counts from the common prefix of every pair of positions, the model the fast
// counts answer to.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "sp800_90b/estimators.hpp"
#include "sp800_90b/suffix_tuples.hpp"

namespace sp800_tuple_model {

namespace sp = veltrane::sp800_90b;
using Bytes = std::vector<std::uint8_t>;

inline sp::Symbols symbols(const Bytes& b, unsigned k) { return {b.data(), b.size(), k}; }

inline Bytes random_input(std::mt19937_64& rng, std::size_t n, unsigned k, double bias) {
    // With probability `bias` symbol 0, otherwise uniform over all k.
    std::uniform_real_distribution<double> coin(0, 1);
    std::uniform_int_distribution<unsigned> any(0, k - 1);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(coin(rng) < bias ? 0 : any(rng));
    return b;
}

// Tuple counts from the common prefix of every pair of positions (the table
// row by row, from the end): pairs of equal W-tuples are the pairs sharing W
// symbols, and a tuple's count is one plus its start's partners.
inline sp::TupleCounts model_tuples(const Bytes& s) {
    const std::size_t n = s.size();
    sp::TupleCounts m;
    // shares[a][l]: partners b of start a whose common prefix is exactly l.
    std::vector<std::vector<std::uint32_t>> shares(n, std::vector<std::uint32_t>(n + 1, 0));
    std::vector<std::uint32_t> row(n + 1, 0), next(n + 1, 0);
    for (std::size_t a = n; a-- > 0;) {
        for (std::size_t b = 0; b < n; ++b) {
            row[b] = (a != b && s[a] == s[b]) ? 1 + next[b + 1] : 0;
            ++shares[a][row[b]];
            m.longest_repeat = std::max<std::uint64_t>(m.longest_repeat, row[b]);
        }
        row[n] = 0;
        std::swap(row, next);
    }
    const std::size_t v = m.longest_repeat;
    m.top.assign(v, 0);
    m.pairs.assign(v, 0);
    std::vector<std::uint64_t> partners(n, 0);  // sharing at least w, w falling
    for (std::size_t w = v; w >= 1; --w) {
        std::uint64_t pairs = 0;
        for (std::size_t a = 0; a + w <= n; ++a) {
            partners[a] += shares[a][w];
            m.top[w - 1] = std::max(m.top[w - 1], partners[a] + 1);
            pairs += partners[a];
        }
        m.pairs[w - 1] = static_cast<double>(pairs / 2);
    }
    return m;
}

}  // namespace sp800_tuple_model
