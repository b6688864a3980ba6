// The scoreboard of the predictors that combine subpredictors (multi_mcw, lag,
// multi_mmc): the current winner's subprediction is the prediction; after it,
// every subpredictor that was right scores a point and, in index order, takes
// over as winner if its score is then at least the winner's. A subpredictor that
// was wrong never takes over, even on a tie (NIST's recorded outputs hold to
// this), and the winner always holds the top score.
//
// It is played a block of up to 64 positions at a time. Within a block the
// winner's lead over another subpredictor grows where the winner alone was right
// and shrinks where the other alone was: one that cannot close the lead even if
// it gained at every such place plays no part in who wins the block. On most
// blocks no subpredictor is left, and the block comes down to the winner's own
// hits and two bit counts per subpredictor; the others are played takeover by
// takeover (scoreboard.cpp), never position by position.
#pragma once

#include <cstdint>
#include <vector>

#include "sp800_90b/vector_support.hpp"
#include "util/popcount.hpp"

namespace veltrane::sp800_90b {

class Scoreboard {
public:
    // `portable`: without the vector instructions beyond the baseline (for the
    // tests; the vectors serve many subpredictors only).
    explicit Scoreboard(unsigned count, bool portable = false)
        : score_(count, 0), contenders_(count + 1), start_(count + 1), scores_(count + 1),
          vectors_(!portable && count >= 16 && has_vectors()) {}

    // hits[j] bit t: subpredictor j was right at position t of the block (bits
    // from len on are ignored). The result has bit t set where the prediction
    // (the winner's) was right.
    std::uint64_t play(const std::uint64_t* hits, unsigned len) {
        if (vectors_) return play_vectors(hits, len);
        const std::uint64_t all = len == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << len) - 1;
        const std::uint64_t own = hits[winner_] & all;
        const std::uint64_t top = score_[winner_];
        unsigned contenders = 0;
        for (unsigned j = 0; j < score_.size(); ++j) {
            const std::uint64_t h = hits[j] & all;
            const std::uint64_t before = score_[j];
            score_[j] = before + util::popcount64(h);
            // The lead closes by one at most where the winner missed.
            if (j != winner_ && score_[j] >= top && before + util::popcount64(h & ~own) >= top) {
                start_[contenders] = before;
                contenders_[contenders++] = j;
            }
        }
        if (contenders == 0) return own;
        return contest(hits, all, contenders);
    }

    unsigned winner() const { return winner_; }

private:
    // play() with the counts and comparisons eight subpredictors at a time.
    std::uint64_t play_vectors(const std::uint64_t* hits, unsigned len);

    // The block with `count` contenders (contenders_ and start_: their indices,
    // in order, and their scores before it; score_ already holds everyone's
    // after it): who wins where, and so the prediction's outcomes.
    std::uint64_t contest(const std::uint64_t* hits, std::uint64_t all, unsigned count);

    std::vector<std::uint64_t> score_;
    std::vector<unsigned> contenders_;
    std::vector<std::uint64_t> start_, scores_;
    unsigned winner_ = 0;
    bool vectors_;
};

}  // namespace veltrane::sp800_90b
