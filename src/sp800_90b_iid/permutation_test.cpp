#include "sp800_90b_iid/permutation_test.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "pool/cancel.hpp"
#include "pool/pool.hpp"
#include "sp800_90b_iid/compression_statistic.hpp"
#include "sp800_90b_iid/shuffle.hpp"

namespace veltrane::sp800_90b::iid {

namespace {

// The statistics a round's work is cut into: compression alone costs some
// ten times the rest, and the scanning ones run beside the vector ones.
constexpr std::array<Mask, 3> GROUPS = {bit(COMPRESSION), SCANNED, NEIGHBOURLY};

struct Slot {
    std::vector<std::uint8_t> arrangement;
    Xoshiro256::State after{};  // the stream's state after this round's shuffle
    Values values{};
    std::uint64_t round = 0;  // 0: free
    Mask wanted = 0;
    unsigned unclaimed = 0;   // bits: groups not started
    unsigned unfinished = 0;  // bits: groups not done
};

// Everything the workers share, under one lock. One worker at a time owns the
// shuffle (`shuffling`): the arrangement it shuffles forward, round after
// round, and the random stream; the others measure the rounds already
// shuffled, and whoever completes the oldest one counts it (and any completed
// after it) in round order.
class Rounds {
public:
    Rounds(const SampleFacts& f, const std::uint8_t* raw, const Xoshiro256& rng, std::uint64_t max_rounds,
           std::uint64_t* progress, PermutationTest& result)
        : facts_(f), rng_(rng), counted_state_(rng.state()), current_(raw, raw + f.n), max_rounds_(max_rounds), progress_(progress),
          result_(result), slots_(std::max<std::size_t>(4, 2 * pool::thread_count() + 1)) {}

    void work() {
        Scratch scratch;
        CompressionStatistic compression;
        try {
            std::unique_lock lock(mutex_);
            while (!done_ && !broken_) {
                if (can_shuffle()) {
                    shuffle_next(lock);
                } else if (Slot* slot = claimable()) {
                    measure(lock, *slot, scratch, compression);
                } else {
                    // Another worker shuffles or measures what is left.
                    changed_.wait_for(lock, std::chrono::milliseconds(20));
                    lock.unlock();
                    pool::checkpoint();
                    lock.lock();
                }
            }
        } catch (...) {
            {
                std::lock_guard guard(mutex_);
                broken_ = true;
            }
            changed_.notify_all();
            throw;
        }
    }

private:
    bool can_shuffle() const {
        return !shuffling_ && next_shuffle_ <= max_rounds_ && next_shuffle_ - next_count_ < slots_.size();
    }

    void shuffle_next(std::unique_lock<std::mutex>& lock) {
        shuffling_ = true;
        const std::uint64_t round = next_shuffle_++;
        Slot& slot = slots_[round % slots_.size()];
        lock.unlock();
        shuffle(rng_, current_.data(), current_.size());
        slot.arrangement.assign(current_.begin(), current_.end());
        slot.after = rng_.state();
        lock.lock();
        shuffling_ = false;
        slot.round = round;
        slot.values = {};
        // What is still under test now; rounds not yet counted may take more
        // statistics out, whose values here will then go unread.
        slot.wanted = active_;
        slot.unclaimed = slot.unfinished = 0;
        for (unsigned g = 0; g < GROUPS.size(); ++g) {
            if (slot.wanted & GROUPS[g]) slot.unclaimed |= 1U << g;
        }
        slot.unfinished = slot.unclaimed;
        if (slot.unfinished == 0) count_completed();
        changed_.notify_all();
    }

    // The oldest shuffled round with work not started.
    Slot* claimable() {
        for (std::uint64_t r = next_count_; r < next_shuffle_; ++r) {
            Slot& slot = slots_[r % slots_.size()];
            if (slot.round == r && slot.unclaimed != 0) return &slot;
        }
        return nullptr;
    }

    void measure(std::unique_lock<std::mutex>& lock, Slot& slot, Scratch& scratch, CompressionStatistic& compression) {
        const unsigned g = static_cast<unsigned>(__builtin_ctz(slot.unclaimed));
        slot.unclaimed &= ~(1U << g);
        const Mask wanted = slot.wanted & GROUPS[g];
        lock.unlock();
        Values& values = slot.values;  // each group writes its own entries
        if (wanted & bit(COMPRESSION)) {
            values[COMPRESSION] = compression(slot.arrangement.data(), slot.arrangement.size());
        } else {
            compute_statistics(facts_, slot.arrangement.data(), wanted, values, scratch);
        }
        lock.lock();
        slot.unfinished &= ~(1U << g);
        if (slot.unfinished == 0) count_completed();
        changed_.notify_all();
    }

    // Counts the completed rounds at the front, in order.
    void count_completed() {
        while (!done_) {
            Slot& slot = slots_[next_count_ % slots_.size()];
            if (slot.round != next_count_ || slot.unfinished != 0) return;
            for (unsigned s = 0; s < STATISTICS; ++s) {
                if (!(active_ & bit(s))) continue;
                const double x = slot.values[s], x0 = result_.original[s];
                auto& c = result_.counters[s];
                ++c[x > x0 ? 0 : x == x0 ? 1 : 2];
                if (c[0] + c[1] > ENOUGH && c[1] + c[2] > ENOUGH) active_ &= ~bit(s);
            }
            slot.round = 0;
            counted_state_ = slot.after;
            result_.rounds = next_count_;
            if (progress_ != nullptr) std::atomic_ref(*progress_).store(next_count_, std::memory_order_relaxed);
            ++next_count_;
            done_ = active_ == 0 || next_count_ > max_rounds_;
        }
    }

public:
    // The stream as the last round counted left it.
    const Xoshiro256::State& counted_state() const { return counted_state_; }

private:
    const SampleFacts& facts_;
    Xoshiro256 rng_;
    Xoshiro256::State counted_state_;
    std::vector<std::uint8_t> current_;
    const std::uint64_t max_rounds_;
    std::uint64_t* const progress_;
    PermutationTest& result_;
    std::vector<Slot> slots_;

    std::mutex mutex_;
    std::condition_variable changed_;
    Mask active_ = ALL_STATISTICS;
    std::uint64_t next_shuffle_ = 1, next_count_ = 1;
    bool shuffling_ = false, done_ = false, broken_ = false;
};

}  // namespace

PermutationTest permutation_test(const SampleFacts& facts, const std::uint8_t* raw, Xoshiro256& rng,
                                 std::uint64_t max_rounds, std::uint64_t* rounds_counted) {
    PermutationTest result;
    {
        Scratch scratch;
        compute_statistics(facts, raw, ALL_STATISTICS, result.original, scratch);
        CompressionStatistic compression;
        result.original[COMPRESSION] = compression(raw, facts.n);
    }
    if (max_rounds > 0) {
        Rounds rounds(facts, raw, rng, max_rounds, rounds_counted, result);
        pool::run_tasks(pool::thread_count(), [&](std::size_t) {
            pool::prepare_thread();
            rounds.work();
        });
        rng = Xoshiro256(rounds.counted_state());
    }
    for (unsigned s = 0; s < STATISTICS; ++s) {
        const auto& c = result.counters[s];
        if (c[0] + c[1] <= ENOUGH || c[1] + c[2] <= ENOUGH) result.failed |= bit(s);
    }
    return result;
}

}  // namespace veltrane::sp800_90b::iid
