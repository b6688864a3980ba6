#include "engine_binding/without_gil.hpp"

namespace veltrane::engine {

namespace {

// The calling thread's state while it computes without the lock; the hook runs
// on that same thread (checkpoints and the pool's wait are the caller's own).
VELTRANE_STATIC_TLS thread_local PyThreadState* released = nullptr;

bool signal_raised() noexcept {
    PyEval_RestoreThread(released);
    const bool raised = PyErr_CheckSignals() != 0;
    released = PyEval_SaveThread();
    return raised;
}

}  // namespace

WithoutGil::WithoutGil() noexcept : previous_(released), interruptible_(&signal_raised) {
    released = PyEval_SaveThread();
}

WithoutGil::~WithoutGil() {
    PyEval_RestoreThread(released);
    released = previous_;
}

}  // namespace veltrane::engine
