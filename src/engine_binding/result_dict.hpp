// Results as plain dicts whose keys are the fields of the package's
// dataclasses (the package builds its typed results from them).
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>

#include "binding/errors.hpp"
#include "binding/pyref.hpp"

namespace veltrane::engine {

class Dict {
public:
    Dict() : dict_(py::PyRef::steal(py::check(PyDict_New()))) {}
    // Takes the new reference `value` (NULL: the pending exception is thrown).
    Dict& set(const char* key, PyObject* value) {
        py::PyRef owned = py::PyRef::steal(py::check(value));
        if (PyDict_SetItemString(dict_.get(), key, owned.get()) < 0) py::throw_python_error();
        return *this;
    }
    Dict& real(const char* key, double v) { return set(key, PyFloat_FromDouble(v)); }
    Dict& real(const char* key, std::optional<double> v) { return v ? real(key, *v) : set(key, Py_NewRef(Py_None)); }
    Dict& count(const char* key, std::uint64_t v) { return set(key, PyLong_FromUnsignedLongLong(v)); }
    Dict& integer(const char* key, std::int64_t v) { return set(key, PyLong_FromLongLong(v)); }
    Dict& flag(const char* key, bool v) { return set(key, PyBool_FromLong(v)); }
    Dict& sub(const char* key, py::PyRef value) { return set(key, value.release()); }
    py::PyRef done() { return std::move(dict_); }

private:
    py::PyRef dict_;
};

inline py::PyRef none() { return py::PyRef::steal(Py_NewRef(Py_None)); }

template <class T, class F>
py::PyRef optional_dict(const std::optional<T>& value, F&& convert) {
    return value ? convert(*value) : none();
}

// bits_per_symbol: None, or an int from 1 to 8 (ValueError naming it otherwise).
std::optional<unsigned> width_argument(PyObject* arg);

}  // namespace veltrane::engine
