// The predictors' naive reference, for the tests: each of 6.3.7 to 6.3.10 as the
// standard lays it out, one position at a time, with every window counted
// afresh, every subprediction formed, and std::map dictionaries, so that none of
// the fast code's running modes, blocks, packed bits or flat tables is shared.
// Each returns the outcomes of its predictions in order (1: right).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sp800_reference {

using Seq = std::vector<std::uint8_t>;
constexpr int NONE = -1;

// The scoreboard as the standard words it: after predicting with the winner,
// each subpredictor that was right scores and takes over if its score is then
// at least the winner's.
struct Board {
    std::vector<std::uint64_t> score;
    std::size_t winner = 0;
    explicit Board(std::size_t n) : score(n, 0) {}
    int round(const std::vector<int>& sub, int actual) {
        const int right = sub[winner] == actual;
        for (std::size_t j = 0; j < sub.size(); ++j) {
            if (sub[j] == actual && ++score[j] >= score[winner]) winner = j;
        }
        return right;
    }
};

inline std::vector<int> multi_mcw(const Seq& s) {
    const std::size_t w[4] = {63, 255, 1023, 4095};
    std::vector<int> out;
    Board board(4);
    for (std::size_t i = 63; i < s.size(); ++i) {
        std::vector<int> sub(4, NONE);
        for (int j = 0; j < 4; ++j) {
            if (i < w[j]) continue;
            std::vector<std::size_t> count(256, 0), last(256, 0);
            for (std::size_t t = i - w[j]; t < i; ++t) ++count[s[t]], last[s[t]] = t;
            std::size_t best = 0;
            for (int v = 0; v < 256; ++v) {
                // most common; on a tie, the one seen last
                if (count[v] > best || (count[v] == best && best > 0 && last[v] > last[sub[j]])) sub[j] = v, best = count[v];
            }
        }
        out.push_back(board.round(sub, s[i]));
    }
    return out;
}

inline std::vector<int> lag(const Seq& s) {
    std::vector<int> out;
    Board board(128);
    for (std::size_t i = 1; i < s.size(); ++i) {
        std::vector<int> sub(128, NONE);
        for (std::size_t d = 1; d <= 128 && d <= i; ++d) sub[d - 1] = s[i - d];
        out.push_back(board.round(sub, s[i]));
    }
    return out;
}

using Counts = std::map<int, std::uint64_t>;
// Contexts as strings of symbols (a vector key trips a false GCC warning in
// its comparison).
using Context = std::string;

// The successor seen most often, the largest on a tie; NONE if there is none.
inline std::pair<int, std::uint64_t> most_frequent(const Counts& c) {
    std::pair<int, std::uint64_t> best{NONE, 0};
    for (auto [y, n] : c) {
        if (n >= best.second) best = {y, n};
    }
    return best;
}

inline std::vector<int> multi_mmc(const Seq& s) {
    std::vector<std::map<Context, Counts>> model(16);
    std::vector<std::size_t> pairs(16, 0);
    std::vector<int> out;
    Board board(16);
    for (std::size_t i = 2; i < s.size(); ++i) {
        for (std::size_t d = 1; d <= 16 && d + 1 <= i; ++d) {
            const Context x(s.begin() + (i - d - 1), s.begin() + (i - 1));
            auto& m = model[d - 1];
            auto it = m.find(x);
            if (it != m.end() && it->second.count(s[i - 1])) {
                ++it->second[s[i - 1]];
            } else if (pairs[d - 1] < 100000) {
                m[x][s[i - 1]] = 1;
                ++pairs[d - 1];
            }
        }
        std::vector<int> sub(16, NONE);
        for (std::size_t d = 1; d <= 16 && d <= i; ++d) {
            auto it = model[d - 1].find(Context(s.begin() + (i - d), s.begin() + i));
            if (it != model[d - 1].end()) sub[d - 1] = most_frequent(it->second).first;
        }
        out.push_back(board.round(sub, s[i]));
    }
    return out;
}

inline std::vector<int> lz78y(const Seq& s) {
    std::map<Context, Counts> dict;
    std::vector<int> out;
    for (std::size_t i = 17; i < s.size(); ++i) {
        for (std::size_t j = 16; j >= 1; --j) {
            const Context x(s.begin() + (i - j - 1), s.begin() + (i - 1));
            if (!dict.count(x) && dict.size() < 65536) dict[x];
            if (dict.count(x)) ++dict[x][s[i - 1]];
        }
        int prediction = NONE;
        std::uint64_t top = 0;
        for (std::size_t j = 16; j >= 1; --j) {
            auto it = dict.find(Context(s.begin() + (i - j), s.begin() + i));
            if (it == dict.end()) continue;
            auto [y, c] = most_frequent(it->second);
            if (c > top) prediction = y, top = c;
        }
        out.push_back(prediction == s[i]);
    }
    return out;
}

}  // namespace sp800_reference
