// What the repeats search and the corpus search share at the binding: their
// options from Python values, and their results as columns of native bytes.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "binding/errors.hpp"
#include "binding/pyref.hpp"
#include "strings/repeats/options.hpp"
#include "strings/repeats/result.hpp"

namespace veltrane::engine {

// A vector's bytes as a bytes object, for the package to view as a typed column.
template <class T>
py::PyRef column(const std::vector<T>& values) {
    return py::PyRef::steal(py::check(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(values.data()),
                                                                static_cast<Py_ssize_t>(values.size() * sizeof(T)))));
}

// None, or an unsigned 64-bit number.
std::optional<std::uint64_t> optional_u64(PyObject* obj);

// The search's options from the values the package passes (validated before
// any work, while the lock is held).
strings::repeats::Options repeats_options(PyObject* top, unsigned long long min_count, unsigned long long min_length,
                                          PyObject* max_length, const char* rank, int maximal, int periodic,
                                          PyObject* min_entropy, int non_overlap, PyObject* max_starts);

// dict[key] = value, the reference stolen.
void set_item(PyObject* dict, const char* key, py::PyRef value);

// The fragments' columns and the left-out counts into `dict`.
void add_repeats_columns(PyObject* dict, const strings::repeats::RepeatsResult& found);

}  // namespace veltrane::engine
