// Plain models of the SP 800-22 tests for the core tests: one bit per int, the
// definitions as the standard states them, nothing shared with the fast code
// (no packed words, no byte tables, no folded histograms, no shortcut from
// aperiodic templates). Slow; for short sequences.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sp800_22/bits.hpp"

namespace reference_sp800_22 {

using Eps = std::vector<int>;

inline Eps eps_of(const std::string& text) {
    Eps e;
    for (char c : text) e.push_back(c == '1');
    return e;
}

inline veltrane::sp800_22::Bits bits_of(const Eps& e) {
    // Through the byte reader, bit by bit into bytes first.
    std::vector<std::uint8_t> bytes((e.size() + 7) / 8 + 1, 0);
    for (std::size_t i = 0; i < e.size(); ++i) bytes[i / 8] |= static_cast<std::uint8_t>(e[i] << (7 - i % 8));
    return veltrane::sp800_22::bits_from_bytes(bytes.data(), 0, e.size());
}

inline std::vector<long> walk(const Eps& e) {
    std::vector<long> s;
    long sum = 0;
    for (int b : e) s.push_back(sum += b ? 1 : -1);
    return s;
}

inline long count_ones(const Eps& e, std::size_t from, std::size_t to) {
    long c = 0;
    for (std::size_t i = from; i < to; ++i) c += e[i];
    return c;
}

inline long runs(const Eps& e) {
    long v = 1;
    for (std::size_t i = 0; i + 1 < e.size(); ++i) v += e[i] != e[i + 1];
    return v;
}

inline long longest_run(const Eps& e, std::size_t from, std::size_t to) {
    long best = 0, here = 0;
    for (std::size_t i = from; i < to; ++i) best = std::max(best, here = e[i] ? here + 1 : 0);
    return best;
}

// Gaussian elimination on a matrix of ints, column by column.
inline int rank(std::vector<std::vector<int>> a) {
    int r = 0;
    const std::size_t rows = a.size(), cols = a.empty() ? 0 : a[0].size();
    for (std::size_t c = 0; c < cols && r < static_cast<int>(rows); ++c) {
        std::size_t p = r;
        while (p < rows && a[p][c] == 0) ++p;
        if (p == rows) continue;
        std::swap(a[p], a[r]);
        for (std::size_t i = 0; i < rows; ++i) {
            if (i != static_cast<std::size_t>(r) && a[i][c]) {
                for (std::size_t j = 0; j < cols; ++j) a[i][j] ^= a[r][j];
            }
        }
        ++r;
    }
    return r;
}

// |X_j| for j < n/2, X the DFT of the ±1 sequence, summed term by term in long double.
inline std::vector<double> dft_moduli(const std::vector<double>& x) {
    const std::size_t n = x.size();
    std::vector<double> out;
    for (std::size_t j = 0; j < n / 2; ++j) {
        std::complex<long double> sum = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const long double angle = -2.0L * 3.14159265358979323846264338327950288L * static_cast<long double>(j * k % n) / n;
            sum += static_cast<long double>(x[k]) * std::complex<long double>(std::cos(angle), std::sin(angle));
        }
        out.push_back(static_cast<double>(std::abs(sum)));
    }
    return out;
}

// Occurrences of `b` in e[from, to): a match jumps past itself, a miss moves one bit.
inline long non_overlapping_count(const Eps& e, const Eps& b, std::size_t from, std::size_t to) {
    long count = 0;
    std::size_t i = from;
    while (i + b.size() <= to) {
        if (std::equal(b.begin(), b.end(), e.begin() + static_cast<long>(i))) {
            ++count;
            i += b.size();
        } else {
            ++i;
        }
    }
    return count;
}

// Every start in e[from, to) of m ones in a row, overlaps counted.
inline long overlapping_ones(const Eps& e, std::size_t m, std::size_t from, std::size_t to) {
    long count = 0;
    for (std::size_t i = from; i + m <= to; ++i) count += count_ones(e, i, i + m) == static_cast<long>(m);
    return count;
}

// Whether a word can overlap a copy of itself shifted by fewer than its length.
inline bool self_overlapping(const Eps& b) {
    for (std::size_t shift = 1; shift < b.size(); ++shift) {
        if (std::equal(b.begin() + static_cast<long>(shift), b.end(), b.begin())) return true;
    }
    return false;
}

// The universal statistic's sum: log2 of the distance to each block's last occurrence.
inline double universal_sum(const Eps& e, int l, long q, long k) {
    std::map<std::string, long> last;
    double sum = 0;
    for (long i = 1; i <= q + k; ++i) {
        std::string block;
        for (int j = 0; j < l; ++j) block += static_cast<char>('0' + e[(i - 1) * l + j]);
        if (i > q) sum += std::log2(static_cast<double>(i - (last.count(block) ? last[block] : 0)));
        last[block] = i;
    }
    return sum;
}

// Counts of every pattern of m bits over the sequence read round its end.
inline std::map<std::string, long> cyclic_patterns(const Eps& e, std::size_t m) {
    std::map<std::string, long> counts;
    for (std::size_t i = 0; i < e.size(); ++i) {
        std::string p;
        for (std::size_t j = 0; j < m; ++j) p += static_cast<char>('0' + e[(i + j) % e.size()]);
        ++counts[p];
    }
    return counts;
}

inline double psi_squared(const Eps& e, int m) {
    if (m <= 0) return 0;
    double sum = 0;
    for (const auto& [p, c] : cyclic_patterns(e, m)) sum += static_cast<double>(c) * c;
    return std::pow(2.0, m) / e.size() * sum - static_cast<double>(e.size());
}

inline double apen_phi(const Eps& e, int m) {
    double sum = 0;
    for (const auto& [p, c] : cyclic_patterns(e, m)) sum += static_cast<double>(c) / e.size() * std::log(static_cast<double>(c) / e.size());
    return sum;
}

// Berlekamp-Massey over GF(2) as the textbook states it, one coefficient per int.
inline int linear_complexity(const Eps& s) {
    const std::size_t n = s.size();
    std::vector<int> c(n + 1, 0), b(n + 1, 0);
    c[0] = b[0] = 1;
    int l = 0, m = -1;
    for (std::size_t i = 0; i < n; ++i) {
        int d = s[i];
        for (int j = 1; j <= l; ++j) d ^= c[j] & s[i - j];
        if (!d) continue;
        std::vector<int> t = c;
        for (std::size_t j = 0; j + i - m <= n; ++j) c[j + i - m] ^= b[j];
        if (2 * l <= static_cast<int>(i)) {
            l = static_cast<int>(i) + 1 - l;
            m = static_cast<int>(i);
            b = t;
        }
    }
    return l;
}

// The walk's cycles: the states each visits, in order; S' = 0, S_1..S_n, 0.
inline std::vector<std::vector<long>> cycles(const Eps& e) {
    std::vector<std::vector<long>> out(1);
    for (long s : walk(e)) {
        if (s == 0) {
            out.emplace_back();
        } else {
            out.back().push_back(s);
        }
    }
    if (out.back().empty()) out.pop_back();
    return out;
}

}  // namespace reference_sp800_22
