// Plain models of the IID track for the tests: the statistics written out
// from the standard's definitions on the renumbered samples and their
// conversions (no bit tricks, no shortcuts through raw values), the generator
// from its published recurrence with explicit rotations, the draw as a loop,
// and the permutation test as one loop of rounds.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

namespace reference_iid {

using Bytes = std::vector<std::uint8_t>;
using Values = std::array<double, 18>;  // every statistic but compression, in the tool's order

struct Prepared {
    Bytes raw, ranks;
    unsigned k = 0;
};

inline Prepared prepare(const Bytes& raw) {
    Prepared p;
    p.raw = raw;
    std::set<std::uint8_t> distinct(raw.begin(), raw.end());
    std::map<std::uint8_t, std::uint8_t> rank;
    for (std::uint8_t v : distinct) rank[v] = static_cast<std::uint8_t>(p.k++);
    for (std::uint8_t v : raw) p.ranks.push_back(rank[v]);
    return p;
}

// Runs of the sign sequence: (count, longest).
inline std::pair<double, double> runs(const std::vector<int>& signs) {
    double count = 0, longest = 0, length = 0;
    for (std::size_t i = 0; i < signs.size(); ++i) {
        length = (i > 0 && signs[i] == signs[i - 1]) ? length + 1 : 1;
        if (length == 1) ++count;
        longest = std::max(longest, length);
    }
    return {count, longest};
}

inline Values statistics(const Bytes& raw) {
    const Prepared p = prepare(raw);
    const std::size_t n = raw.size();
    Values v{};
    // Excursion over the raw values: long double, the mean in double.
    double total = 0;
    for (std::uint8_t x : raw) total += x;
    const double mean = total / static_cast<double>(n);
    long double sum = 0, best = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sum += raw[i];
        best = std::max(best, std::fabs(sum - static_cast<long double>(i + 1) * static_cast<long double>(mean)));
    }
    v[0] = static_cast<double>(best);

    Bytes dirs, collide, periodic, median_seq;
    std::vector<double> products;
    double median = 0.5;
    if (p.k == 2) {
        Bytes one, two;
        for (std::size_t b = 0; b < n; b += 8) {
            unsigned ones = 0, value = 0;
            for (std::size_t j = b; j < b + 8; ++j) {
                const unsigned bit = j < n ? p.ranks[j] : 0;
                ones += bit;
                value = value * 2 + bit;
            }
            one.push_back(static_cast<std::uint8_t>(ones));
            two.push_back(static_cast<std::uint8_t>(value));
        }
        dirs = periodic = one;
        collide = two;
        for (std::uint8_t c : one) products.push_back(c);
        median_seq = p.ranks;
    } else {
        dirs = periodic = collide = median_seq = p.ranks;
        for (std::uint8_t x : raw) products.push_back(x);
        Bytes sorted = p.ranks;
        std::sort(sorted.begin(), sorted.end());
        median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
    }
    std::vector<int> d;
    for (std::size_t i = 0; i + 1 < dirs.size(); ++i) d.push_back(dirs[i] > dirs[i + 1] ? -1 : 1);
    std::tie(v[1], v[2]) = runs(d);
    const double ups = static_cast<double>(std::count(d.begin(), d.end(), 1));
    v[3] = std::max(ups, static_cast<double>(d.size()) - ups);
    std::vector<int> m;
    for (std::uint8_t x : median_seq) m.push_back(x < median ? -1 : 1);
    std::tie(v[4], v[5]) = runs(m);
    double collisions = 0, lengths = 0, longest = 0;
    for (std::size_t start = 0; start < collide.size();) {
        std::set<std::uint8_t> seen;
        std::size_t j = start;
        while (j < collide.size() && seen.insert(collide[j]).second) ++j;
        if (j == collide.size()) break;
        ++collisions;
        lengths += static_cast<double>(j - start + 1);
        longest = std::max(longest, static_cast<double>(j - start + 1));
        start = j + 1;
    }
    v[6] = collisions == 0 ? 0 : lengths / collisions;
    v[7] = longest;
    const std::size_t lags[] = {1, 2, 8, 16, 32};
    for (int j = 0; j < 5; ++j) {
        double same = 0, product = 0;
        for (std::size_t i = 0; i + lags[j] < periodic.size(); ++i) {
            same += periodic[i] == periodic[i + lags[j]];
            product += products[i] * products[i + lags[j]];
        }
        v[8 + j] = same;
        v[13 + j] = product;
    }
    return v;
}

// xoshiro256** from its recurrence, and the draw as a loop that rejects.
struct Generator {
    std::uint64_t s[4];
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::uint64_t next() {
        const std::uint64_t out = rotl(s[1] * 5, 7) * 9, t = s[1] << 17;
        s[2] ^= s[0];
        s[3] ^= s[1];
        s[1] ^= s[2];
        s[0] ^= s[3];
        s[2] ^= t;
        s[3] = rotl(s[3], 45);
        return out;
    }
    std::uint64_t draw(std::uint64_t i) {
        const unsigned __int128 range = static_cast<unsigned __int128>(i) + 1;
        const unsigned __int128 limit = (static_cast<unsigned __int128>(1) << 64) % range;  // the biased sliver
        for (;;) {
            const unsigned __int128 m = static_cast<unsigned __int128>(next()) * range;
            if (static_cast<std::uint64_t>(m) >= limit) return static_cast<std::uint64_t>(m >> 64);
        }
    }
};

inline Generator generator_of(const std::array<std::uint8_t, 32>& seed) {
    Generator g{};
    for (int w = 0; w < 4; ++w) {
        for (int b = 0; b < 8; ++b) g.s[w] |= static_cast<std::uint64_t>(seed[8 * w + b]) << (8 * b);
    }
    return g;
}

}  // namespace reference_iid
