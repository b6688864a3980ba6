// The randomness battery: every figure of some bytes (or their bits) in one
// pass, the mergeable state behind it, and the entropy of every window.
#include <Python.h>

#include <cstdint>
#include <string>

#include "battery/finish.hpp"
#include "battery/pass.hpp"
#include "battery/profile.hpp"
#include "battery/serialize.hpp"
#include "engine_binding/call.hpp"
#include "engine_binding/functions.hpp"
#include "engine_binding/input.hpp"
#include "engine_binding/without_gil.hpp"

namespace veltrane::engine {

namespace {

using py::check;
using py::PyRef;

void set(PyObject* dict, const char* key, PyObject* value) {
    PyRef owned = PyRef::steal(check(value));
    if (PyDict_SetItemString(dict, key, owned.get()) < 0) py::throw_python_error();
}

void set_float(PyObject* dict, const char* key, double value) { set(dict, key, PyFloat_FromDouble(value)); }
void set_int(PyObject* dict, const char* key, std::uint64_t value) {
    set(dict, key, PyLong_FromUnsignedLongLong(value));
}

// The figures as a dict whose keys are the fields of the package's Measures.
PyRef result_dict(const battery::Result& r) {
    PyRef dict = PyRef::steal(check(PyDict_New()));
    PyObject* d = dict.get();
    set(d, "bits", PyBool_FromLong(r.bits));
    set_int(d, "size", r.size);
    PyRef counts = PyRef::steal(check(PyTuple_New(static_cast<Py_ssize_t>(r.histogram.size()))));
    for (std::size_t i = 0; i < r.histogram.size(); ++i) {
        PyTuple_SET_ITEM(counts.get(), static_cast<Py_ssize_t>(i), check(PyLong_FromUnsignedLongLong(r.histogram[i])));
    }
    if (PyDict_SetItemString(d, "histogram", counts.get()) < 0) py::throw_python_error();
    set_float(d, "shannon_entropy", r.shannon_entropy);
    set_float(d, "metric_entropy", r.metric_entropy);
    set_float(d, "normalized_entropy", r.normalized_entropy);
    set_float(d, "min_entropy", r.min_entropy);
    set_float(d, "min_entropy_mcv", r.min_entropy_mcv);
    set_float(d, "chi_square", r.chi_square);
    set_int(d, "chi_square_df", r.chi_square_df);
    set_float(d, "chi_square_p", r.chi_square_p);
    set_float(d, "mean", r.mean);
    set_float(d, "monte_carlo_pi", r.monte_carlo_pi);
    set_float(d, "monte_carlo_error", r.monte_carlo_error_percent);
    set_float(d, "serial_correlation", r.serial_correlation);
    set_float(d, "compression", r.compression_percent);
    // What ent prints where its arithmetic differs: for the ent-compatible output only.
    set_float(d, "ent_entropy", r.ent.entropy);
    set_int(d, "ent_compression", static_cast<std::uint64_t>(r.ent.compression_percent));
    set_float(d, "ent_chi_square_p", r.ent.chi_square_p);
    set(d, "ent_serial_correlation_undefined", PyBool_FromLong(r.ent.serial_correlation_undefined));
    return dict;
}

PyRef bytes_of(const std::string& text) {
    return PyRef::steal(check(PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()))));
}

// measure(data, bits=False, case_fold=False) -> dict
PyObject* measure(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    return guarded([&] {
        static const char* names[] = {"data", "bits", "case_fold", nullptr};
        PyObject* data = nullptr;
        int bits = 0, fold = 0;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|pp:measure", const_cast<char**>(names), &data, &bits,
                                         &fold)) {
            py::throw_python_error();
        }
        InputBytes input(data);
        battery::Result result;
        {
            WithoutGil unlocked;
            result = battery::measure(input.bytes().data(), input.bytes().size(), bits != 0, fold != 0);
        }
        return result_dict(result);
    });
}

// state(data, start=0, case_fold=False) -> bytes: the serialised state of a piece that starts at `start`.
PyObject* state(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    return guarded([&] {
        static const char* names[] = {"data", "start", "case_fold", nullptr};
        PyObject* data = nullptr;
        unsigned long long start = 0;
        int fold = 0;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|Kp:state", const_cast<char**>(names), &data, &start,
                                         &fold)) {
            py::throw_python_error();
        }
        InputBytes input(data);
        std::string serialised;
        {
            WithoutGil unlocked;
            serialised = battery::serialize(
                battery::measure_state(input.bytes().data(), input.bytes().size(), {start, fold != 0}));
        }
        return bytes_of(serialised);
    });
}

battery::State load(PyObject* obj) {
    InputBytes bytes(obj);
    return battery::deserialize(bytes.bytes().data(), bytes.bytes().size());
}

// merge_states(earlier, later) -> bytes: the state of the two consecutive pieces together.
PyObject* merge_states(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
    return guarded([&] {
        if (nargs != 2) {
            PyErr_Format(PyExc_TypeError, "merge_states() takes 2 arguments (%zd given)", nargs);
            py::throw_python_error();
        }
        return bytes_of(battery::serialize(battery::merge(load(args[0]), load(args[1]))));
    });
}

// finish(state, bits=False) -> dict: the figures of a whole input from its state.
PyObject* finish(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    return guarded([&] {
        static const char* names[] = {"state", "bits", nullptr};
        PyObject* serialised = nullptr;
        int bits = 0;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|p:finish", const_cast<char**>(names), &serialised, &bits)) {
            py::throw_python_error();
        }
        return result_dict(battery::finish(load(serialised), bits != 0));
    });
}

// profile(data, window, step, normalized) -> (size, offsets, values): the bytes measured, then the window
// starts and values as native uint64 and double arrays in bytes objects.
PyObject* profile(PyObject*, PyObject* args) noexcept {
    return guarded([&] {
        PyObject* data = nullptr;
        unsigned long long window = 0, step = 0;
        int normalized = 0;
        if (!PyArg_ParseTuple(args, "OKKp:profile", &data, &window, &step, &normalized)) py::throw_python_error();
        InputBytes input(data);
        battery::Profile found;
        {
            WithoutGil unlocked;
            found = battery::entropy_profile(input.bytes().data(), input.bytes().size(), window, step,
                                             normalized ? battery::WindowMeasure::normalized
                                                        : battery::WindowMeasure::metric);
        }
        PyRef offsets = PyRef::steal(check(PyBytes_FromStringAndSize(
            reinterpret_cast<const char*>(found.offsets.data()),
            static_cast<Py_ssize_t>(found.offsets.size() * sizeof(std::uint64_t)))));
        found.offsets = {};
        PyRef values = PyRef::steal(check(PyBytes_FromStringAndSize(
            reinterpret_cast<const char*>(found.values.data()),
            static_cast<Py_ssize_t>(found.values.size() * sizeof(double)))));
        PyRef size = PyRef::steal(check(PyLong_FromSize_t(input.bytes().size())));
        return PyRef::steal(check(PyTuple_Pack(3, size.get(), offsets.get(), values.get())));
    });
}

}  // namespace

PyMethodDef BATTERY_FUNCTIONS[] = {
    {"measure", as_method(&measure), METH_VARARGS | METH_KEYWORDS,
     "measure(data, bits=False, case_fold=False)\n--\n\nEvery figure of the battery, as a dict."},
    {"state", as_method(&state), METH_VARARGS | METH_KEYWORDS,
     "state(data, start=0, case_fold=False)\n--\n\nThe serialised battery state of a piece starting at `start`."},
    {"merge_states", as_method(&merge_states), METH_FASTCALL,
     "merge_states(earlier, later, /)\n--\n\nThe state of two consecutive pieces together."},
    {"finish", as_method(&finish), METH_VARARGS | METH_KEYWORDS,
     "finish(state, bits=False)\n--\n\nThe figures of a whole input from its state, as a dict."},
    {"profile", as_method(&profile), METH_VARARGS,
     "profile(data, window, step, normalized, /)\n--\n\nThe size, and the window offsets and values as native uint64 and double bytes."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace veltrane::engine
