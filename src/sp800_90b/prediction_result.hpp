// The pieces the four predictors (multi_mcw, lag, multi_mmc, lz78y) share: the
// tally of their correct predictions and the final step from that tally to a
// min-entropy (global and local bounds).
#pragma once

#include <algorithm>
#include <cstdint>

#include "estimators.hpp"

namespace veltrane::sp800_90b {

// C, the number of correct predictions, and the longest run of them, fed a block
// of up to 64 outcomes at a time (bit t: position t of the block was right).
struct CorrectTally {
    std::uint64_t correct = 0, run = 0, longest = 0;

    void add(std::uint64_t bits, unsigned len) {
        const std::uint64_t all = len == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << len) - 1;
        bits &= all;
        correct += static_cast<std::uint64_t>(__builtin_popcountll(bits));
        if (bits == all) {
            run += len;
        } else {
            for (unsigned t = 0; t < len; ++t) {
                run = (bits >> t) & 1 ? run + 1 : 0;
                longest = std::max(longest, run);
            }
        }
        longest = std::max(longest, run);
    }
};

// P_local: the p at which N predictions that are each right with probability p
// would show no run of r correct ones with probability 0.99. 1 when r > N (no
// such run is possible at all).
double local_bound(std::uint64_t r, std::uint64_t n);

// The figures of a predictor that got `correct` of `n` predictions right, with
// `longest_run` the longest run of right ones, on an alphabet of k symbols.
// n == 0 (nothing predicted) gives P_global' = 1 and so min-entropy 0; k == 1
// gives min-entropy 0 (the floor 1/k is 1). P_local is filled in always;
// p_local_used says whether it exceeds P_global' and so decides the result
// (where it does not, NIST's tool prints "P_local can't change the result").
Prediction prediction_result(std::uint64_t correct, std::uint64_t longest_run, std::uint64_t n, unsigned k);

inline Prediction prediction_result(const CorrectTally& tally, std::uint64_t n, unsigned k) {
    return prediction_result(tally.correct, tally.longest, n, k);
}

}  // namespace veltrane::sp800_90b
