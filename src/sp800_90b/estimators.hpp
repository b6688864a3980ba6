// The non-IID min-entropy estimators of NIST SP 800-90B (section 6.3), each on
// one sequence of symbols, with every intermediate figure NIST's reference tool
// prints, so that a result can be compared with the tool's line by line.
//
// A sequence is `n` symbols, one per byte, each below `k` (the alphabet size:
// 2 for a bitstring). Estimators that the standard defines for binary data only
// (collision, Markov, compression) require k == 2. Every estimator:
// - calls pool::checkpoint() in its long loops, so Ctrl-C stops it;
// - uses memory linear in n (the dictionaries of the predictors are bounded);
// - is deterministic and exact: integer counts, then double arithmetic in a
//   fixed order, the same for every thread count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace veltrane::sp800_90b {

struct Symbols {
    const std::uint8_t* data = nullptr;
    std::size_t n = 0;
    unsigned k = 2;
};

// 6.3.1
struct MostCommonValue {
    std::uint64_t mode_count = 0;
    double p_hat = 0, p_u = 0, min_entropy = 0;
};

// 6.3.2 (k == 2)
struct Collision {
    std::uint64_t v = 0, sum_t = 0;
    double x_bar = 0, sigma_hat = 0, x_bar_prime = 0;
    bool found_p = false;  // false: no p solved the equation, the lower bound 0.5 was used
    double p = 0, min_entropy = 0;
};

// 6.3.3 (k == 2)
struct Markov {
    double p_0 = 0, p_1 = 0, p_00 = 0, p_01 = 0, p_10 = 0, p_11 = 0, p_hat_max = 0, min_entropy = 0;
};

// 6.3.4 (k == 2)
struct Compression {
    double x_bar = 0, sigma_hat = 0, x_bar_prime = 0;
    bool found_p = false;
    double p = 0, min_entropy = 0;
};

// 6.3.5
struct TTuple {
    std::uint64_t t = 0;
    double p_hat_max = 0, p_u = 0, min_entropy = 0;
};

// 6.3.6
struct LongestRepeatedSubstring {
    std::uint64_t u = 0, v = 0;
    double p_hat = 0, p_u = 0, min_entropy = 0;
};

// 6.3.5 and 6.3.6 from one suffix sort. Either is empty where the standard's
// preconditions fail on this sequence (no tuple occurs 35 times; no substring
// of length u repeats).
struct Tuples {
    std::optional<TTuple> t_tuple;
    std::optional<LongestRepeatedSubstring> lrs;
};

// 6.3.7 to 6.3.10: C correct predictions out of N, r the longest run of correct
// predictions plus one, P_global, its upper bound P_global', and P_local where
// it decides the result (p_local_used false: "P_local can't change the result").
struct Prediction {
    std::uint64_t c = 0, r = 0, n = 0;
    double p_global = 0, p_global_prime = 0;
    bool p_local_used = false;
    double p_local = 0;
    double min_entropy = 0;
};

MostCommonValue most_common_value(Symbols s);
// The same from the count of the most common symbol among n (where a caller has the counts).
MostCommonValue most_common_value_of(std::uint64_t mode_count, std::uint64_t n);
Collision collision(Symbols s);
Markov markov(Symbols s);
Compression compression(Symbols s);
Tuples tuple_estimates(Symbols s);
Prediction multi_mcw(Symbols s);
Prediction lag(Symbols s);
Prediction multi_mmc(Symbols s);
Prediction lz78y(Symbols s);

}  // namespace veltrane::sp800_90b
