// Conversion of the scalar arguments: unsigned 64-bit integers and booleans.
#pragma once

#include <Python.h>

#include <cstdint>

namespace veltrane::py {

// An int, or any object with __index__, in 0 .. 2**64 - 1; throws PythonError
// with the interpreter's own exception otherwise.
std::uint64_t convert_u64(PyObject* obj);
// Exactly bool, or numpy's boolean scalar; throws PythonError otherwise.
bool convert_bool(PyObject* obj);

}  // namespace veltrane::py
