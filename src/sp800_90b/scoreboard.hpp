// The scoreboard of the predictors that combine subpredictors (multi_mcw, lag,
// multi_mmc): the current winner's subprediction is the prediction; after it,
// every subpredictor that was right scores a point and, in index order, takes
// over as winner if its score is then at least the winner's. A subpredictor that
// was wrong never takes over, even on a tie (NIST's recorded outputs hold to
// this), and the winner always holds the top score.
//
// It is played a block of up to 64 positions at a time. A subpredictor whose
// score cannot reach the winner's within the block plays no part in who wins
// it, so most blocks come down to the winner's own hits and a few popcounts.
#pragma once

#include <cstdint>
#include <vector>

#include "util/popcount.hpp"

namespace veltrane::sp800_90b {

class Scoreboard {
public:
    explicit Scoreboard(unsigned count) : score_(count, 0), contenders_(count) {}

    // hits[j] bit t: subpredictor j was right at position t of the block. The
    // result has bit t set where the prediction (the winner's) was right.
    std::uint64_t play(const std::uint64_t* hits, unsigned len) {
        const std::uint64_t top = score_[winner_];
        unsigned contenders = 0;
        for (unsigned j = 0; j < score_.size(); ++j) {
            const auto gain = std::uint64_t{util::popcount64(hits[j])};
            if (j == winner_ || score_[j] + gain >= top) {
                contenders_[contenders++] = j;
            } else {
                score_[j] += gain;
            }
        }
        if (contenders == 1) {
            score_[winner_] += std::uint64_t{util::popcount64(hits[winner_])};
            return hits[winner_];
        }
        // Only the winner and the contenders can win a position: play those
        // position by position, in index order.
        std::uint64_t right = 0;
        for (unsigned t = 0; t < len; ++t) {
            right |= hits[winner_] & (std::uint64_t{1} << t);
            for (unsigned c = 0; c < contenders; ++c) {
                const unsigned j = contenders_[c];
                if ((hits[j] >> t) & 1) {
                    if (++score_[j] >= score_[winner_]) winner_ = j;
                }
            }
        }
        return right;
    }

    unsigned winner() const { return winner_; }

private:
    std::vector<std::uint64_t> score_;
    std::vector<unsigned> contenders_;
    unsigned winner_ = 0;
};

}  // namespace veltrane::sp800_90b
