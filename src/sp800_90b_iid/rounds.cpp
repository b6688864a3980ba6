#include "sp800_90b_iid/rounds.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <limits>

#include "pool/cancel.hpp"
#include "pool/pool.hpp"
#include "sp800_90b_iid/compression_statistic.hpp"
#include "sp800_90b_iid/shuffle.hpp"

namespace veltrane::sp800_90b::iid {

namespace {

// The statistics a round's measuring is cut into: compression alone costs some
// ten times the rest, and the scanning ones run beside the vector ones.
constexpr std::array<Mask, 3> GROUPS = {bit(COMPRESSION), SCANNED, NEIGHBOURLY};
// Rounds drawn ahead of the swapping.
constexpr std::size_t DRAWN_AHEAD = 3;

}  // namespace

Rounds::Rounds(const SampleFacts& facts, const std::uint8_t* raw, const Xoshiro256& rng, std::uint64_t max_rounds,
               std::uint64_t* progress, PermutationTest& result)
    : facts_(facts), max_rounds_(max_rounds), progress_(progress), result_(result), stream_(rng),
      current_(raw, raw + facts.n), slots_(std::max<std::size_t>(4, 2 * pool::thread_count() + 1)),
      counted_state_(rng.state()) {
    if (facts.n >= 2 && facts.n - 1 <= std::numeric_limits<std::uint32_t>::max() - 1) {
        draws_ = std::make_unique<RoundDraws>(facts.n);
        drawn_.resize(DRAWN_AHEAD);
        for (Drawn& d : drawn_) d.to.resize(facts.n);
    }
}

Rounds::~Rounds() = default;

void Rounds::work() {
    Scratch scratch;
    CompressionStatistic compression;
    try {
        std::unique_lock lock(mutex_);
        while (!done_ && !broken_) {
            if (can_swap()) {
                swap_next(lock);
            } else if (can_draw()) {
                draw_next(lock);
            } else if (Slot* slot = claimable()) {
                measure(lock, *slot, scratch, compression);
            } else {
                // Another worker draws, swaps or measures what is left.
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

bool Rounds::can_draw() const {
    return draws_ && !drawing_ && next_draw_ <= max_rounds_ && next_draw_ <= swapped_ + drawn_.size();
}

bool Rounds::can_swap() const {
    if (swapping_ || next_swap_ > max_rounds_ || next_swap_ - next_count_ >= slots_.size()) return false;
    // Its indices drawn, all of them.
    return !draws_ || next_swap_ + (drawing_ ? 1 : 0) < next_draw_;
}

void Rounds::draw_next(std::unique_lock<std::mutex>& lock) {
    drawing_ = true;
    const std::uint64_t round = next_draw_++;
    Drawn& d = drawn_[round % drawn_.size()];
    const Xoshiro256::State start = stream_.state();
    lock.unlock();
    const Xoshiro256::State after = draws_->draw(start, d.to.data());
    lock.lock();
    d.after = after;
    stream_ = Xoshiro256(after);
    drawing_ = false;
    changed_.notify_all();
}

void Rounds::swap_next(std::unique_lock<std::mutex>& lock) {
    swapping_ = true;
    const std::uint64_t round = next_swap_++;
    Slot& slot = slots_[round % slots_.size()];
    lock.unlock();
    Xoshiro256::State after;
    if (draws_) {
        const Drawn& d = drawn_[round % drawn_.size()];
        swap_by(current_.data(), d.to.data(), current_.size());
        after = d.after;
    } else {
        shuffle(stream_, current_.data(), current_.size());
        after = stream_.state();
    }
    slot.arrangement.assign(current_.begin(), current_.end());
    lock.lock();
    swapping_ = false;
    ++swapped_;
    slot.round = round;
    slot.after = after;
    slot.values = {};
    slot.wanted = active_;
    slot.unclaimed = 0;
    for (unsigned g = 0; g < GROUPS.size(); ++g) {
        if (slot.wanted & GROUPS[g]) slot.unclaimed |= 1U << g;
    }
    slot.unfinished = slot.unclaimed;
    if (slot.unfinished == 0) count_completed();
    changed_.notify_all();
}

Rounds::Slot* Rounds::claimable() {
    for (std::uint64_t r = next_count_; r < next_swap_; ++r) {
        Slot& slot = slots_[r % slots_.size()];
        if (slot.round == r && slot.unclaimed != 0) return &slot;
    }
    return nullptr;
}

void Rounds::measure(std::unique_lock<std::mutex>& lock, Slot& slot, Scratch& scratch,
                     CompressionStatistic& compression) {
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

void Rounds::count_completed() {
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

}  // namespace veltrane::sp800_90b::iid
