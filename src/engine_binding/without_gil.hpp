// Computing without the interpreter lock, yet stoppable by Ctrl-C.
//
// While a WithoutGil object lives, the calling thread has released the lock, so
// other Python threads run, and other calls of the engine compute side by side.
// The interrupt hook of the worker pool's checkpoints takes the lock back for a
// moment (about every 50 ms) to let the interpreter run pending signal handlers;
// when one raises (KeyboardInterrupt), the computation stops with
// pool::Cancelled and the exception stays set for the caller.
#pragma once

#include <Python.h>

#include "pool/cancel.hpp"

namespace veltrane::engine {

class WithoutGil {
public:
    WithoutGil() noexcept;
    ~WithoutGil();
    WithoutGil(const WithoutGil&) = delete;
    WithoutGil& operator=(const WithoutGil&) = delete;

private:
    PyThreadState* previous_;
    pool::InterruptScope interruptible_;
};

}  // namespace veltrane::engine
