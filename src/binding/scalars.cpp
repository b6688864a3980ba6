#include "scalars.hpp"

#include "compat.hpp"
#include "errors.hpp"
#include "messages.hpp"
#include "pyref.hpp"

namespace veltrane::py {

std::uint64_t convert_u64(PyObject* obj) {
    PyRef index;
    if (!PyLong_Check(obj)) {
        index = PyRef::steal(check(PyNumber_Index(obj)));
        obj = index.get();
    }
    unsigned long long value = PyLong_AsUnsignedLongLong(obj);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_python_error();
    return value;
}

namespace {

// Whether `type` is numpy's boolean scalar type; lookup failures count as "no".
bool is_numpy_bool_type(PyTypeObject* type) {
    PyRef module = PyRef::steal(type_module_name(type));
    if (!module || !PyUnicode_Check(module.get()) || PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) {
        PyErr_Clear();
        return false;
    }
    PyRef name = PyRef::steal(PyType_GetName(type));
    if (!name || !PyUnicode_Check(name.get())) {
        PyErr_Clear();
        return false;
    }
    return PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
           PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0;
}

}  // namespace

bool convert_bool(PyObject* obj) {
    if (Py_IS_TYPE(obj, &PyBool_Type)) return obj == Py_True;
    PyTypeObject* type = Py_TYPE(obj);
    if (!is_numpy_bool_type(type)) raise_cast_error(obj, reinterpret_cast<PyObject*>(&PyBool_Type));
    inquiry nb_bool = type->tp_as_number != nullptr ? type->tp_as_number->nb_bool : nullptr;
    if (nb_bool == nullptr) {
        PyErr_Format(PyExc_TypeError, "object of type '%S' does not define a '__bool__' conversion",
                     reinterpret_cast<PyObject*>(type));
        throw_python_error();
    }
    int truth = nb_bool(obj);
    if (truth == 0 || truth == 1) return truth == 1;
    if (!PyErr_Occurred()) {
        PyErr_Format(PyExc_SystemError, "__bool__ of '%s' failed without setting an exception", type->tp_name);
    }
    throw_python_error();
}

}  // namespace veltrane::py
