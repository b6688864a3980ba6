// The one place where C++ failures become Python exceptions.
//
// Inside the binding layer a Python error travels as a C++ exception: code that
// finds the interpreter's error indicator set throws PythonError and lets the
// RAII owners release what was built. The call frame catches everything at the
// boundary and turns it into "NULL with an exception set".
#pragma once

#include <Python.h>

namespace veltrane::py {

// Thrown when the interpreter's error indicator is already set.
struct PythonError {};

[[noreturn]] inline void throw_python_error() { throw PythonError{}; }

// For interpreter calls that report failure with NULL.
inline PyObject* check(PyObject* result) {
    if (result == nullptr) throw_python_error();
    return result;
}

// Maps the exception being handled (call only inside a catch block) to the
// interpreter's error indicator. An exception that is already set is kept;
// std::bad_alloc and size overflows become MemoryError, std::invalid_argument
// (a core refusing a value it was given) ValueError with its message.
void set_error_from_current_exception() noexcept;

// The interrupt hook every call installs (pool/cancel.hpp): asks the interpreter
// to run pending signal handlers. When one raises (KeyboardInterrupt for Ctrl-C)
// the exception stays set and the computation stops with pool::Cancelled, which
// set_error_from_current_exception() answers with that very exception. The
// calling thread holds the interpreter lock for the whole call, so this is legal
// wherever the hook is asked.
bool python_interrupt_requested() noexcept;

// Enforces the boundary rule: a result and no exception, or NULL and an
// exception. Returns what the caller should hand to the interpreter.
PyObject* finish_call(PyObject* result) noexcept;

}  // namespace veltrane::py
