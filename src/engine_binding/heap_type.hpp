#pragma once
// The engine's classes are heap types, made per module so that each interpreter has its own.

#include <Python.h>

namespace veltrane::engine {

// Adds the heap type described by `description` to `module` under its short name.
inline int add_type(PyObject* module, PyType_Spec* description) {
    PyObject* type = PyType_FromModuleAndSpec(module, description, nullptr);
    if (type == nullptr) return -1;
    const int status = PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(type));
    Py_DECREF(type);
    return status;
}

}  // namespace veltrane::engine
