// A process-lifetime cell filled at most once with a strong reference.
//
// Filling it may run Python code that lets other threads in, so a second thread
// that finds the work under way waits for it without holding the interpreter
// lock (holding it would deadlock against the filler). A failed fill leaves the
// cell empty so that a later call tries again.
#pragma once

#include <Python.h>

#include <atomic>
#include <mutex>

#include "errors.hpp"
#include "pyref.hpp"

namespace veltrane::py {

class OnceObject {
public:
    PyObject* peek() const noexcept { return value_.load(std::memory_order_acquire); }

    // Returns the borrowed, cached object; `make` returns a PyRef or throws PythonError.
    template <class Make>
    PyObject* get_or_init(Make&& make) {
        if (PyObject* ready = peek()) return ready;
        std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
        if (!lock.owns_lock()) {
            Py_BEGIN_ALLOW_THREADS
            lock.lock();
            Py_END_ALLOW_THREADS
        }
        if (PyObject* ready = peek()) return ready;
        PyRef made = make();
        if (!made) throw_python_error();
        PyObject* obj = made.release();  // kept until the process ends
        value_.store(obj, std::memory_order_release);
        return obj;
    }

private:
    std::atomic<PyObject*> value_{nullptr};
    std::mutex mutex_;
};

}  // namespace veltrane::py
