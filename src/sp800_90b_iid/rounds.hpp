// The rounds of the permutation test, run side by side on the worker pool.
//
// Three kinds of work, under one lock:
// - drawing: a round's Fisher-Yates indices, from the stream where the round
//   before left it (RoundDraws: lanes of the stream jumped ahead); one worker
//   at a time, as the rounds' streams follow one another;
// - swapping: the arrangement shuffled forward by a round's indices and copied
//   out for measuring; one worker at a time, as each round shuffles the
//   arrangement the one before it left;
// - measuring: a shuffled round's statistics, in three groups (compression
//   alone, the scanning ones, the neighbourly ones), any number at once.
// Whoever completes the oldest round counts it, and any completed after it, in
// round order: the counters are those of one thread running the rounds one by
// one. Rounds may be drawn and measured ahead of the counting, with the
// statistics still under test then; a statistic that the rounds counted
// meanwhile take out is simply not read.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "sp800_90b_iid/draws.hpp"
#include "sp800_90b_iid/permutation_test.hpp"

namespace veltrane::sp800_90b::iid {

class CompressionStatistic;

class Rounds {
public:
    // `result.original` must hold the statistics of `raw` already.
    Rounds(const SampleFacts& facts, const std::uint8_t* raw, const Xoshiro256& rng, std::uint64_t max_rounds,
           std::uint64_t* progress, PermutationTest& result);
    ~Rounds();

    // A worker's loop: until every round is counted, or another worker failed
    // (then it returns; the failing one throws).
    void work();

    // The stream as the last round counted left it.
    const Xoshiro256::State& counted_state() const noexcept { return counted_state_; }

private:
    struct Drawn {
        std::vector<std::uint32_t> to;
        Xoshiro256::State after{};
    };
    struct Slot {
        std::vector<std::uint8_t> arrangement;
        Xoshiro256::State after{};  // the stream after this round's draws
        Values values{};
        std::uint64_t round = 0;  // 0: free
        Mask wanted = 0;
        unsigned unclaimed = 0, unfinished = 0;  // bits: groups not started, not done
    };

    bool can_draw() const;
    bool can_swap() const;
    void draw_next(std::unique_lock<std::mutex>& lock);
    void swap_next(std::unique_lock<std::mutex>& lock);
    Slot* claimable();
    void measure(std::unique_lock<std::mutex>& lock, Slot& slot, Scratch& scratch, CompressionStatistic& compression);
    void count_completed();

    const SampleFacts& facts_;
    const std::uint64_t max_rounds_;
    std::uint64_t* const progress_;
    PermutationTest& result_;
    // Drawing ahead needs the indices to fit 32 bits; otherwise the swapping
    // worker draws as it swaps.
    std::unique_ptr<RoundDraws> draws_;
    std::vector<Drawn> drawn_;
    Xoshiro256 stream_;                 // where the next round's draws start
    std::vector<std::uint8_t> current_;  // the arrangement after the last round swapped
    std::vector<Slot> slots_;
    Xoshiro256::State counted_state_;

    std::mutex mutex_;
    std::condition_variable changed_;
    Mask active_ = ALL_STATISTICS;
    std::uint64_t next_draw_ = 1, next_swap_ = 1, swapped_ = 0, next_count_ = 1;
    bool drawing_ = false, swapping_ = false, done_ = false, broken_ = false;
};

}  // namespace veltrane::sp800_90b::iid
