#include "pool/cancel.hpp"

#include <time.h>

namespace veltrane::pool {

namespace detail {

// Static TLS, like the pool's own flags (see pool.cpp): never allocated on first use.
VELTRANE_STATIC_TLS thread_local CheckpointState checkpoint_state;

#ifdef VELTRANE_SANITIZED
[[gnu::noinline]] CheckpointState& this_thread_state() noexcept { return checkpoint_state; }
#endif

namespace {

// At most this many checkpoints between two clock reads: tiny units of work
// (~10 ns) then pay well under 1% for the clock, and a loop of large units that
// follows a loop of tiny ones is noticed within 1024 of them.
constexpr std::uint32_t MAX_STRIDE = 1024;
constexpr std::int64_t FAST_NS = 500'000;     // clock reads closer than this: read less often
constexpr std::int64_t SLOW_NS = 2'000'000;   // further apart than this: read more often

std::int64_t now_ns() noexcept {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// Asks the hook when POLL_INTERVAL_NS have passed since it was last asked. The
// first poll of a scope only starts the interval: a call shorter than 50 ms
// never reaches the hook.
bool poll_at(CheckpointState& state, std::int64_t now) {
    if (state.last_poll_ns == 0) {
        state.last_poll_ns = now;
        return false;
    }
    if (now - state.last_poll_ns < POLL_INTERVAL_NS) return false;
    state.last_poll_ns = now;
    return state.hook();
}

}  // namespace

void poll_from_checkpoint(CheckpointState& state) {
    const std::int64_t now = now_ns();
    const std::int64_t since = now - state.last_clock_ns;
    state.last_clock_ns = now;
    if (since < FAST_NS) {
        if (state.stride < MAX_STRIDE) state.stride *= 2;
    } else if (since > SLOW_NS) {
        state.stride = state.stride > 4 ? state.stride / 4 : 1;
    }
    state.countdown = state.stride;
    if (poll_at(state, now)) throw Cancelled{};
}

}  // namespace detail

bool interrupt_hook_installed() noexcept { return detail::checkpoint_state.hook != nullptr; }

std::int64_t nanoseconds_until_interrupt_poll() {
    detail::CheckpointState& state = detail::checkpoint_state;
    if (state.last_poll_ns == 0) state.last_poll_ns = detail::now_ns();
    const std::int64_t left = state.last_poll_ns + detail::POLL_INTERVAL_NS - detail::now_ns();
    return left > 0 ? left : 0;
}

void prepare_checkpoints() noexcept {
    volatile const void* state = &detail::checkpoint_state;
    (void)state;
}

bool poll_interrupt_if_due() { return detail::poll_at(detail::checkpoint_state, detail::now_ns()); }

InterruptScope::InterruptScope(InterruptHook hook) noexcept {
    detail::CheckpointState& state = detail::checkpoint_state;
    previous_hook_ = state.hook;
    previous_last_poll_ = state.last_poll_ns;
    state.hook = hook;
    state.last_poll_ns = 0;
    state.countdown = 1;
    state.stride = 1;
}

InterruptScope::~InterruptScope() {
    detail::CheckpointState& state = detail::checkpoint_state;
    state.hook = previous_hook_;
    state.last_poll_ns = previous_last_poll_;
    state.countdown = 1;
}

}  // namespace veltrane::pool
