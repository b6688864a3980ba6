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
#include "engine_binding/figures.hpp"
#include "engine_binding/functions.hpp"
#include "engine_binding/input.hpp"
#include "engine_binding/without_gil.hpp"

namespace veltrane::engine {

namespace {

using py::check;
using py::PyRef;

// Refuses a positional call with other than `expected` arguments, as the interpreter words it.
void require_arguments(const char* name, Py_ssize_t nargs, Py_ssize_t expected) {
    if (nargs != expected) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zd arguments (%zd given)", name, expected, nargs);
        py::throw_python_error();
    }
}

bool truth(PyObject* obj) {
    const int value = PyObject_IsTrue(obj);
    if (value < 0) py::throw_python_error();
    return value != 0;
}

PyRef bytes_of(const std::string& text) {
    return PyRef::steal(check(PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()))));
}

// measure(data, bits, case_fold, measures_type, ent_type, /) -> measures_type: every figure of the data.
// Positional only, as the package calls it: a small input's call is dominated
// by what is done holding the interpreter lock.
PyObject* measure(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
    return guarded([&] {
        require_arguments("measure", nargs, 5);
        const bool bits = truth(args[1]), fold = truth(args[2]);
        InputBytes input(args[0]);
        battery::Result result;
        {
            WithoutGil unlocked;
            result = battery::measure(input.bytes().data(), input.bytes().size(), bits, fold);
        }
        return make_figures(module, result, args[3], args[4]);
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

// finish(state, bits, measures_type, ent_type, /) -> measures_type: the figures of a whole input from its state.
PyObject* finish(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
    return guarded([&] {
        require_arguments("finish", nargs, 4);
        const bool bits = truth(args[1]);
        return make_figures(module, battery::finish(load(args[0]), bits), args[2], args[3]);
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
    {"measure", as_method(&measure), METH_FASTCALL,
     "measure(data, bits, case_fold, measures_type, ent_type, /)\n--\n\nEvery figure of the battery, as an "
     "instance of measures_type."},
    {"state", as_method(&state), METH_VARARGS | METH_KEYWORDS,
     "state(data, start=0, case_fold=False)\n--\n\nThe serialised battery state of a piece starting at `start`."},
    {"merge_states", as_method(&merge_states), METH_FASTCALL,
     "merge_states(earlier, later, /)\n--\n\nThe state of two consecutive pieces together."},
    {"finish", as_method(&finish), METH_FASTCALL,
     "finish(state, bits, measures_type, ent_type, /)\n--\n\nThe figures of a whole input from its state, as "
     "an instance of measures_type."},
    {"profile", as_method(&profile), METH_VARARGS,
     "profile(data, window, step, normalized, /)\n--\n\nThe size, and the window offsets and values as native uint64 and double bytes."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace veltrane::engine
