// Hand-run timing of the SP 800-90B estimators of src/sp800_90b (not the
// predictors) on random data:
//   veltrane_bench_sp800 bytes|bits|biased|zeros|literal [N] [ESTIMATOR...]
// "bytes": N random bytes (default 10^6) as their 8N-bit bitstring; "bits": N
// random bits; "biased": N bits, 0 nine times in ten; "zeros": N zero bits;
// "literal": N random bytes as 256 symbols (MCV and tuples only). ESTIMATOR is mcv, collision, markov, compression or tuples
// (default: all). Measure peak memory with /usr/bin/time -v and one estimator.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "sp800_90b/estimators.hpp"

namespace sp = veltrane::sp800_90b;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s bytes|bits|biased|zeros|literal [N] [mcv|collision|markov|compression|tuples...]\n", argv[0]);
        return 2;
    }
    const std::string kind = argv[1];
    const std::size_t n = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000000;
    std::vector<std::string> wanted(argv + (argc > 3 ? 3 : argc), argv + argc);
    if (wanted.empty()) wanted = {"mcv", "collision", "markov", "compression", "tuples"};
    std::mt19937_64 rng(1);
    std::vector<std::uint8_t> bits;
    bits.reserve(kind == "bytes" ? 8 * n : n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = rng();
        if (kind == "literal") {
            bits.push_back(static_cast<std::uint8_t>(x));
        } else if (kind == "zeros") {
            bits.push_back(0);
        } else if (kind == "biased") {
            bits.push_back(x % 10 == 0);
        } else if (kind == "bytes") {
            for (int b = 7; b >= 0; --b) bits.push_back(static_cast<std::uint8_t>((x >> b) & 1));
        } else {
            bits.push_back(static_cast<std::uint8_t>(x & 1));
        }
    }
    const sp::Symbols s{bits.data(), bits.size(), kind == "literal" ? 256u : 2u};
    for (const std::string& name : wanted) {
        const auto start = std::chrono::steady_clock::now();
        double h = 0;
        if (name == "mcv") h = sp::most_common_value(s).min_entropy;
        else if (name == "collision") h = sp::collision(s).min_entropy;
        else if (name == "markov") h = sp::markov(s).min_entropy;
        else if (name == "compression") h = sp::compression(s).min_entropy;
        else if (name == "tuples") {
            const sp::Tuples t = sp::tuple_estimates(s);
            h = t.t_tuple ? t.t_tuple->min_entropy : -1;
            if (t.lrs) std::printf("  lrs: u=%llu v=%llu H=%.6f\n", (unsigned long long)t.lrs->u, (unsigned long long)t.lrs->v, t.lrs->min_entropy);
        } else {
            std::fprintf(stderr, "unknown estimator %s\n", name.c_str());
            return 2;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%-12s %zu %s: %.3f s, H = %.6f\n", name.c_str(), bits.size(), kind == "literal" ? "bytes" : "bits", seconds, h);
    }
    return 0;
}
