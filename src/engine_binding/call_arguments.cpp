// The arguments several engine functions share: progress words and widths.
#include <Python.h>

#include <cstdint>

#include "engine_binding/progress_words.hpp"
#include "engine_binding/result_dict.hpp"
#include "sp800_90b/assessment.hpp"

namespace veltrane::engine {

ProgressWords::ProgressWords(PyObject* obj) {
    if (obj == Py_None) return;
    if (PyObject_GetBuffer(obj, &view_, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) < 0) py::throw_python_error();
    held_ = true;
    if (view_.len < 16 || reinterpret_cast<std::uintptr_t>(view_.buf) % alignof(std::uint64_t) != 0) {
        PyErr_SetString(PyExc_ValueError, "progress must be a writable buffer of two aligned 64-bit words");
        py::throw_python_error();
    }
}

ProgressWords::~ProgressWords() {
    if (held_) PyBuffer_Release(&view_);
}

std::optional<unsigned> width_argument(PyObject* arg) {
    if (arg == Py_None) return std::nullopt;
    const long w = PyLong_AsLong(arg);
    if (w == -1 && PyErr_Occurred()) py::throw_python_error();
    if (w < 1 || w > static_cast<long>(sp800_90b::MAX_WIDTH)) {
        PyErr_Format(PyExc_ValueError, "bits_per_symbol must be from 1 to 8, not %ld", w);
        py::throw_python_error();
    }
    return static_cast<unsigned>(w);
}

}  // namespace veltrane::engine
