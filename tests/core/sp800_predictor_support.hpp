// What the predictor suites share: the four predictors beside their naive
// models, the comparison of a fast result with the naive outcomes, and a
// sequence in which only long contexts tell what follows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "reference_predictors.hpp"
#include "sp800_90b/estimators.hpp"

namespace sp800_predictor_support {

namespace sp = veltrane::sp800_90b;

using Seq = std::vector<std::uint8_t>;
using Fast = sp::Prediction (*)(sp::Symbols);
using Naive = std::vector<int> (*)(const Seq&);

struct Predictor {
    const char* label;  // as the recorded outputs name it
    Fast fast;
    Naive naive;
};
inline const Predictor PREDICTORS[] = {{"MultiMCW", sp::multi_mcw, sp800_reference::multi_mcw},
                                {"Lag", sp::lag, sp800_reference::lag},
                                {"MultiMMC", sp::multi_mmc, sp800_reference::multi_mmc},
                                {"LZ78Y", sp::lz78y, sp800_reference::lz78y}};

inline sp::Prediction run(const Predictor& p, const Seq& s, unsigned k) { return p.fast({s.data(), s.size(), k}); }

// C, r and N of the naive outcomes; the rest follows from those in the one
// shared final step.
inline bool same_as_naive(const Predictor& p, const Seq& s, unsigned k) {
    const std::vector<int> outcomes = p.naive(s);
    std::uint64_t c = 0, streak = 0, longest = 0;
    for (int o : outcomes) {
        c += o;
        streak = o ? streak + 1 : 0;
        longest = std::max(longest, streak);
    }
    const sp::Prediction r = run(p, s, k);
    const bool ok = r.c == c && r.r == longest + 1 && r.n == outcomes.size();
    if (!ok) {
        std::fprintf(stderr, "  %s n=%zu k=%u: fast C %llu r %llu N %llu, naive C %llu r %llu N %zu\n", p.label,
                     s.size(), k, (unsigned long long)r.c, (unsigned long long)r.r, (unsigned long long)r.n,
                     (unsigned long long)c, (unsigned long long)(longest + 1), outcomes.size());
    }
    return ok;
}

// A de Bruijn cycle over 0..k-1 in which every string of `order` symbols
// occurs once: only contexts of `order` symbols and more tell what follows.
inline Seq de_bruijn(unsigned k, unsigned order) {
    Seq out, a(k * order, 0);
    auto db = [&](auto&& self, unsigned t, unsigned p) -> void {
        if (t > order) {
            if (order % p == 0) out.insert(out.end(), a.begin() + 1, a.begin() + p + 1);
            return;
        }
        a[t] = a[t - p];
        self(self, t + 1, p);
        for (unsigned j = a[t - p] + 1; j < k; ++j) a[t] = static_cast<std::uint8_t>(j), self(self, t + 1, t);
    };
    db(db, 1, 1);
    return out;
}

inline Seq de_bruijn_4_3() { return de_bruijn(4, 3); }

}  // namespace sp800_predictor_support
