// The pieces the four predictors (multi_mcw, lag, multi_mmc, lz78y) share: the
// tally of their correct predictions and the final step from that tally to a
// min-entropy (global and local bounds).
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>

#include "estimators.hpp"
#include "util/popcount.hpp"

namespace veltrane::sp800_90b {

// C, the number of correct predictions, and the longest run of them, fed a block
// of up to 64 outcomes at a time (bit t: position t of the block was right).
struct CorrectTally {
    std::uint64_t correct = 0, run = 0, longest = 0;

    void add(std::uint64_t bits, unsigned len) {
        const std::uint64_t all = len == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << len) - 1;
        bits &= all;
        correct += util::popcount64(bits);
        if (bits == all) {
            run += len;
        } else {
            // A wrong one in the block: the run so far ends with the block's
            // first ones, and its last ones start the next. Each step of the
            // loop shortens every run of ones by one, so it counts the
            // longest one inside the block.
            longest = std::max<std::uint64_t>(longest, run + static_cast<unsigned>(std::countr_one(bits)));
            unsigned inside = 0;
            for (std::uint64_t x = bits; x != 0; x &= x >> 1) ++inside;
            longest = std::max<std::uint64_t>(longest, inside);
            run = static_cast<unsigned>(std::countl_one(bits << (64 - len)));
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
