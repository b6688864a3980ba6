// The engine's functions, one table per area; the module adds them all.
#pragma once

#include <Python.h>

namespace veltrane::engine {

// Each table ends with a {nullptr} entry.
extern PyMethodDef BYTES_FUNCTIONS[];  // bytes.cpp: the histogram and the byte measures

}  // namespace veltrane::engine
