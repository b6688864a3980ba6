// The frame of every engine function: whatever a call throws leaves it as
// "NULL with an exception set", through the one mapping of C++ failures to
// Python exceptions that both native modules share (binding/errors.hpp).
#pragma once

#include <Python.h>

#include "binding/errors.hpp"
#include "binding/pyref.hpp"

namespace veltrane::engine {

template <class Body>
PyObject* guarded(Body&& body) noexcept {
    PyObject* result = nullptr;
    try {
        result = body().release();
    } catch (...) {
        py::set_error_from_current_exception();
    }
    return py::finish_call(result);
}

// Casts an entry to the type PyMethodDef stores.
template <class F>
PyCFunction as_method(F* entry) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry));
}

}  // namespace veltrane::engine
