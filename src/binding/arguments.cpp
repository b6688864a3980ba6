#include "arguments.hpp"

#include <cstring>
#include <string>

#include "errors.hpp"
#include "pyref.hpp"

namespace veltrane::py {

namespace {

// 'a' / 'a' and 'b' / 'a', 'b', and 'c'
std::string quoted_list(std::span<const char* const> params, std::span<PyObject*> slots, std::size_t missing) {
    std::string list;
    std::size_t written = 0;
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (slots[i] != nullptr) continue;
        if (written > 0) {
            if (missing == 2) {
                list += " and ";
            } else {
                list += written + 1 == missing ? ", and " : ", ";
            }
        }
        list += '\'';
        list += params[i];
        list += '\'';
        ++written;
    }
    return list;
}

// Index of the parameter named by a keyword, or -1. A keyword that cannot be
// encoded as UTF-8 names no parameter.
Py_ssize_t parameter_index(std::span<const char* const> params, PyObject* keyword) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_Check(keyword) ? PyUnicode_AsUTF8AndSize(keyword, &size) : nullptr;
    if (text == nullptr) {
        PyErr_Clear();
        return -1;
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (std::strlen(params[i]) == static_cast<std::size_t>(size) && std::memcmp(params[i], text, size) == 0) {
            return static_cast<Py_ssize_t>(i);
        }
    }
    return -1;
}

}  // namespace

void bind_arguments(const char* function, std::span<const char* const> params, PyObject* const* args,
                    Py_ssize_t nargsf, PyObject* kwnames, std::span<PyObject*> slots) {
    const Py_ssize_t given = PyVectorcall_NARGS(nargsf);
    const auto count = static_cast<Py_ssize_t>(params.size());
    if (given > count) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zd positional arguments but %zd %s given", function, count, given,
                     given == 1 ? "was" : "were");
        throw_python_error();
    }
    for (Py_ssize_t i = 0; i < count; ++i) slots[i] = i < given ? args[i] : nullptr;

    const Py_ssize_t keywords = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t index = parameter_index(params, keyword);
        if (index < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", function, keyword);
            throw_python_error();
        }
        if (slots[index] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%S'", function, keyword);
            throw_python_error();
        }
        slots[index] = args[given + k];
    }

    std::size_t missing = 0;
    for (Py_ssize_t i = 0; i < count; ++i) missing += slots[i] == nullptr;
    if (missing > 0) {
        std::string list = quoted_list(params, slots, missing);
        PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional %s: %s", function, missing,
                     missing == 1 ? "argument" : "arguments", list.c_str());
        throw_python_error();
    }
}

}  // namespace veltrane::py
