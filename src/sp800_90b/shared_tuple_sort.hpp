// The tuple sort of binary samples shared among the assessment's workers: the
// first to take it begins it (the first buckets, or the run starts' order: a
// few milliseconds) and then sorts its pieces, and every worker that has
// nothing else left helps with the pieces, so that the whole sort runs beside
// the other estimators and both workers finish together.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

#include "pool/cancel.hpp"
#include "sp800_90b/bit_tuples.hpp"

namespace veltrane::sp800_90b {

class SharedBitTupleSort {
public:
    SharedBitTupleSort(const std::uint8_t* bits, std::uint64_t n) : bits_(bits), n_(n) {}

    // Begins the sort, then sorts pieces until none is left.
    void begin_and_sort() {
        try {
            sort_.emplace(bits_, n_);
        } catch (...) {
            settle(State::failed);  // the helpers must not wait for it
            throw;
        }
        settle(State::begun);
        sort_pieces();
    }

    // Once the sort has begun, sorts pieces until none is left.
    void help() {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            begun_.wait(lock, [&] { return state_ != State::waiting; });
            if (state_ == State::failed) return;
        }
        sort_pieces();
    }

    // After every run of the two: the counts, or nothing where the bit sort
    // cannot give them (BitTupleSort::counts()).
    std::optional<TupleCounts> counts() { return sort_ ? sort_->counts() : std::nullopt; }

private:
    enum class State { waiting, begun, failed };

    void settle(State s) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            state_ = s;
        }
        begun_.notify_all();
    }

    void sort_pieces() {
        for (std::size_t p; (p = next_.fetch_add(1, std::memory_order_relaxed)) < sort_->pieces();) {
            pool::checkpoint();
            sort_->sort_piece(p);
        }
    }

    const std::uint8_t* bits_;
    std::uint64_t n_;
    std::optional<BitTupleSort> sort_;
    std::atomic<std::size_t> next_{0};
    std::mutex mutex_;
    std::condition_variable begun_;
    State state_ = State::waiting;
};

}  // namespace veltrane::sp800_90b
