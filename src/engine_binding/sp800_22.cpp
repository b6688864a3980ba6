// NIST SP 800-22: a run's plan, the bits of an input, the tests of a chunk of
// sequences, and the second level of a p-value series. The package cuts the
// input into chunks and calls sp800_22_run for each, so that a result can be
// written out as it comes.
#include <Python.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine_binding/call.hpp"
#include "engine_binding/functions.hpp"
#include "engine_binding/input.hpp"
#include "engine_binding/progress_words.hpp"
#include "engine_binding/sp800_22_dicts.hpp"
#include "engine_binding/without_gil.hpp"
#include "sp800_22/catalogue.hpp"

namespace veltrane::engine {

namespace {

namespace s22 = sp800_22;
using py::PyRef;

s22::Plan plan_of(unsigned long long length, unsigned long tests, int every, PyObject* parameters, int compatible) {
    return s22::plan_run(length, static_cast<std::uint32_t>(tests), every != 0, parameters_argument(parameters),
                         compatible != 0);
}

// sp800_22_plan(length, tests, every, parameters, compatible) -> dict
PyObject* sp800_22_plan(PyObject*, PyObject* args) noexcept {
    return guarded([&] {
        unsigned long long length = 0;
        unsigned long tests = 0;
        int every = 0, compatible = 0;
        PyObject* parameters = nullptr;
        if (!PyArg_ParseTuple(args, "KkpOp:sp800_22_plan", &length, &tests, &every, &parameters, &compatible)) {
            py::throw_python_error();
        }
        return plan_dict(plan_of(length, tests, every, parameters, compatible));
    });
}

// sp800_22_bits(data, ascii) -> int
PyObject* sp800_22_bits(PyObject*, PyObject* args) noexcept {
    return guarded([&] {
        PyObject* data = nullptr;
        int ascii = 0;
        if (!PyArg_ParseTuple(args, "Op:sp800_22_bits", &data, &ascii)) py::throw_python_error();
        InputBytes input(data);
        std::uint64_t bits = 0;
        {
            WithoutGil unlocked;
            bits = s22::input_bits({input.bytes().data(), input.bytes().size(), ascii != 0});
        }
        return PyRef::steal(py::check(PyLong_FromUnsignedLongLong(bits)));
    });
}

// sp800_22_run(data, ascii, position, count, length, tests, every, parameters, compatible, progress=None)
//     -> (tuple of dicts, position)
PyObject* sp800_22_run(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    return guarded([&] {
        static const char* names[] = {"data", "ascii", "position", "count", "length", "tests", "every",
                                      "parameters", "compatible", "progress", nullptr};
        PyObject *data = nullptr, *parameters = nullptr, *progress_arg = Py_None;
        int ascii = 0, every = 0, compatible = 0;
        unsigned long long position = 0, count = 0, length = 0;
        unsigned long tests = 0;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OpKKKkpOp|O:sp800_22_run", const_cast<char**>(names), &data,
                                         &ascii, &position, &count, &length, &tests, &every, &parameters,
                                         &compatible, &progress_arg)) {
            py::throw_python_error();
        }
        const s22::Plan plan = plan_of(length, tests, every, parameters, compatible);
        InputBytes input(data);
        ProgressWords words(progress_arg);
        const std::uint64_t available = ascii ? ~std::uint64_t{0} : std::uint64_t{8} * input.bytes().size();
        if (!ascii && (position > available || count > (available - position) / length)) {
            PyErr_Format(PyExc_ValueError, "the data holds fewer than %llu sequences of %llu bits from bit %llu", count,
                         length, position);
            py::throw_python_error();
        }
        std::uint64_t at = position;
        std::vector<s22::SequenceFigures> figures;
        {
            WithoutGil unlocked;
            figures = s22::run_sequences(plan, {input.bytes().data(), input.bytes().size(), ascii != 0}, at, count,
                                         words.finished());
        }
        PyRef list = PyRef::steal(py::check(PyTuple_New(static_cast<Py_ssize_t>(figures.size()))));
        for (std::size_t s = 0; s < figures.size(); ++s) {
            PyTuple_SET_ITEM(list.get(), static_cast<Py_ssize_t>(s), sequence_dict(figures[s]).release());
        }
        PyRef next = PyRef::steal(py::check(PyLong_FromUnsignedLongLong(at)));
        return PyRef::steal(py::check(PyTuple_Pack(2, list.get(), next.get())));
    });
}

// sp800_22_summary(p_values, compatible) -> dict: p_values a buffer of native doubles.
PyObject* sp800_22_summary(PyObject*, PyObject* args) noexcept {
    return guarded([&] {
        PyObject* values = nullptr;
        int compatible = 0;
        if (!PyArg_ParseTuple(args, "Op:sp800_22_summary", &values, &compatible)) py::throw_python_error();
        py::BufferRef view;
        if (!view.acquire(values, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT)) py::throw_python_error();
        const Py_buffer& v = view.view();
        if (v.itemsize != sizeof(double) || v.format == nullptr || std::string_view(v.format) != "d") {
            PyErr_SetString(PyExc_TypeError, "p_values must be a buffer of doubles (format 'd')");
            py::throw_python_error();
        }
        return summary_dict(s22::summarise(static_cast<const double*>(v.buf),
                                           static_cast<std::size_t>(v.len) / sizeof(double), compatible != 0));
    });
}

// sp800_22_tests() -> ((name, program name), ...) in the order of NIST's program.
PyObject* sp800_22_tests(PyObject*, PyObject*) noexcept {
    return guarded([&] {
        PyRef list = PyRef::steal(py::check(PyTuple_New(s22::TEST_COUNT)));
        for (unsigned i = 0; i < s22::TEST_COUNT; ++i) {
            const s22::TestName& t = s22::TEST_NAMES[i];
            PyRef name = PyRef::steal(py::check(
                PyUnicode_FromStringAndSize(t.name.data(), static_cast<Py_ssize_t>(t.name.size()))));
            PyRef program = PyRef::steal(py::check(
                PyUnicode_FromStringAndSize(t.program.data(), static_cast<Py_ssize_t>(t.program.size()))));
            PyTuple_SET_ITEM(list.get(), i, py::check(PyTuple_Pack(2, name.get(), program.get())));
        }
        return list;
    });
}

}  // namespace

PyMethodDef SP800_22_FUNCTIONS[] = {
    {"sp800_22_tests", as_method(&sp800_22_tests), METH_NOARGS,
     "sp800_22_tests()\n--\n\nThe fifteen tests in the order of NIST's program: (name, the program's name) pairs."},
    {"sp800_22_plan", as_method(&sp800_22_plan), METH_VARARGS,
     "sp800_22_plan(length, tests, every, parameters, compatible)\n--\n\n"
     "The tests that run and their parameters resolved, with notes; ValueError naming what is out of range."},
    {"sp800_22_bits", as_method(&sp800_22_bits), METH_VARARGS,
     "sp800_22_bits(data, ascii)\n--\n\nThe bits the data holds: 8 a byte, or its '0' and '1' characters."},
    {"sp800_22_run", as_method(&sp800_22_run), METH_VARARGS | METH_KEYWORDS,
     "sp800_22_run(data, ascii, position, count, length, tests, every, parameters, compatible, progress=None)\n--\n\n"
     "The figures of `count` sequences from `position` (bits, or bytes of ASCII text) on, and the position after."},
    {"sp800_22_summary", as_method(&sp800_22_summary), METH_VARARGS,
     "sp800_22_summary(p_values, compatible)\n--\n\nThe second level of one p-value series."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace veltrane::engine
