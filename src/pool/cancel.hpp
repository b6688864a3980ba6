// Stopping a long computation early: the caller's interrupt hook, the workers'
// cancellation flag, and the checkpoints the algorithms call to honour both.
//
// The binding installs an interrupt hook for the duration of every call (it asks
// the interpreter whether a signal such as Ctrl-C is pending). While the calling
// thread waits for a pool job, the pool calls the hook about every 50 ms; when
// it says stop, the job's cancellation flag is set, workers skip the tasks not
// started yet, a running task throws Cancelled at its next checkpoint(), and
// once every worker is idle the wait throws Cancelled on the calling thread.
// Work the calling thread does itself (sequential phases, a job run inline)
// reaches the hook through checkpoint().
//
// For an algorithm this is the whole interface: call checkpoint() regularly in
// loops that can run long, and let Cancelled pass through (RAII releases what
// was built). Nothing else changes: without a hook and without a cancelled job,
// checkpoint() never throws.
#pragma once

#include <atomic>
#include <cstdint>

// The module's thread-locals live in the static TLS block the loader reserves at
// load time (see pool.cpp). Sanitizer builds keep the default model: GCC's
// null-pointer check misjudges the address of an initial-exec variable there,
// and the memory-exhaustion tests it protects do not run under the sanitizers.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_UNDEFINED__)
#define VELTRANE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
#define VELTRANE_SANITIZED 1
#endif
#endif
#ifdef VELTRANE_SANITIZED
#define VELTRANE_STATIC_TLS
#else
#define VELTRANE_STATIC_TLS [[gnu::tls_model("initial-exec")]]
#endif

namespace veltrane::pool {

// Thrown by checkpoint() and by the pool's wait when the computation is to stop.
// Deliberately not a std::exception: a handler for ordinary failures must not
// turn it into an error message. The binding answers it with the exception the
// hook already raised.
struct Cancelled {};

// Asked about every 50 ms on the thread that installed it; returns true to stop.
// It may run arbitrary code of the embedding program (signal handlers), so it is
// never called with a pool lock held.
using InterruptHook = bool (*)() noexcept;

// Installs `hook` on the calling thread for this object's lifetime; restores the
// previous one (nested calls each have their own).
class InterruptScope {
public:
    explicit InterruptScope(InterruptHook hook) noexcept;
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

private:
    InterruptHook previous_hook_;
    std::int64_t previous_last_poll_;
};

namespace detail {

struct CheckpointState {
    // Set on a pool worker while it runs a job: that job's cancellation flag.
    const std::atomic<bool>* job_flag = nullptr;
    // Set on a calling thread inside an InterruptScope.
    InterruptHook hook = nullptr;
    // Calls left before the clock is read again, and the adaptive stride that
    // keeps clock reads about a millisecond apart whatever a call costs.
    std::uint32_t countdown = 1;
    std::uint32_t stride = 1;
    std::int64_t last_clock_ns = 0;
    // When the hook was last asked; 0 until the first poll of a scope.
    std::int64_t last_poll_ns = 0;
};

VELTRANE_STATIC_TLS extern thread_local CheckpointState checkpoint_state;

#ifdef VELTRANE_SANITIZED
// GCC 12 at -O2 with the null-pointer check also misjudges the default model's
// address once checkpoint() is inlined into some loops (the ranked walk's):
// sanitizer builds reach the state through a call.
CheckpointState& this_thread_state() noexcept;
#else
inline CheckpointState& this_thread_state() noexcept { return checkpoint_state; }
#endif

// The throttled part of checkpoint() on a calling thread.
void poll_from_checkpoint(CheckpointState& state);

inline constexpr std::int64_t POLL_INTERVAL_NS = 50'000'000;

}  // namespace detail

// For code that makes the calling thread wait (the pool's wait for a job): whether
// this thread has an interrupt hook, how long until it is due (it is asked at
// most every 50 ms), and the poll itself, true when the hook says stop. Never
// call these with a lock held that the hook's code could need.
bool interrupt_hook_installed() noexcept;
std::int64_t nanoseconds_until_interrupt_poll();
bool poll_interrupt_if_due();

// On a pool worker, for the time it runs a job: checkpoint() there throws
// Cancelled once `flag` is set.
class JobCancelScope {
public:
    explicit JobCancelScope(const std::atomic<bool>* flag) noexcept { detail::checkpoint_state.job_flag = flag; }
    ~JobCancelScope() { detail::checkpoint_state.job_flag = nullptr; }
    JobCancelScope(const JobCancelScope&) = delete;
    JobCancelScope& operator=(const JobCancelScope&) = delete;
};

// Touches this thread's checkpoint state, so that its storage exists before the
// thread may run out of memory (see prepare_thread in pool.hpp).
void prepare_checkpoints() noexcept;

// Cost: one thread-local read, a decrement and a predictable branch (a few ns);
// the clock is read about once a millisecond and the hook once per 50 ms. Call it
// between units of work of roughly 10 ns to 10 ms (a chunk, a length, a node);
// coarser units only delay the stop. Throws Cancelled when:
// - on a pool worker, the current job has been cancelled;
// - on a calling thread, the installed hook, asked at most every 50 ms, says stop.
inline void checkpoint() {
    detail::CheckpointState& state = detail::this_thread_state();
    if (state.job_flag != nullptr) {
        if (state.job_flag->load(std::memory_order_relaxed)) throw Cancelled{};
        return;
    }
    if (state.hook != nullptr && --state.countdown == 0) detail::poll_from_checkpoint(state);
}

}  // namespace veltrane::pool
