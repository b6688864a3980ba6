// Binding of a vector call's arguments to a function's parameters.
#pragma once

#include <Python.h>

#include <span>

namespace veltrane::py {

// Fills slots[i] with a borrowed reference to the argument of params[i]. Every
// parameter is positional-or-keyword and required. On a malformed call raises
// the TypeError the interpreter's own functions would raise (throws PythonError).
// O(P + K·P) for P parameters and K keywords.
void bind_arguments(const char* function, std::span<const char* const> params, PyObject* const* args,
                    Py_ssize_t nargsf, PyObject* kwnames, std::span<PyObject*> slots);

}  // namespace veltrane::py
