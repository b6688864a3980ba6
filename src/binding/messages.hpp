// The messages of failed conversions, composed here and nowhere else: cast
// failures, the two-variant message of `data`, and the note naming the parameter.
#pragma once

#include <Python.h>

#include "pyref.hpp"

namespace veltrane::py {

// Sets the TypeError of a failed cast of `obj` to `target` (a class).
void set_cast_error(PyObject* obj, PyObject* target) noexcept;
[[noreturn]] void raise_cast_error(PyObject* obj, PyObject* target);

// collections.abc.Sequence, imported on first need and kept: named by the message
// for an object that is not a sequence.
PyObject* sequence_class();

// A new exception of `type` with `message` (not raised).
PyRef new_exception(PyObject* type, const char* message);
// The raised exception as an owned object, leaving none raised.
PyRef take_raised_exception();

// Both variants of `data` failed: raises the composed TypeError (without a cause),
// which describes each failure with its whole cause chain.
[[noreturn]] void raise_enum_error(PyRef str_failure, PyRef bytes_failure);

// Adds "while processing '<parameter>'" to the raised exception; a failure to do
// so is discarded and the original exception stays raised unchanged.
void add_parameter_note(const char* parameter) noexcept;

}  // namespace veltrane::py
