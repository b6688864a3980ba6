// The repeats search: fragments people act on, as compact columns.
#include <Python.h>

#include <cstdint>
#include <span>

#include "engine_binding/call.hpp"
#include "engine_binding/functions.hpp"
#include "engine_binding/input.hpp"
#include "engine_binding/repeats_columns.hpp"
#include "engine_binding/without_gil.hpp"
#include "strings/repeats/search.hpp"
#include "util/longest_run.hpp"

namespace veltrane::engine {

namespace {

using py::check;
using py::PyRef;
namespace rp = strings::repeats;

template <class T>
rp::RepeatsResult search(const void* elements, std::size_t n, const rp::Options& options) {
    return rp::find_repeats(std::span<const T>(static_cast<const T*>(elements), n), options);
}

// repeats(data, text, top, min_count, min_length, max_length, rank, maximal, exclude_periodic,
//         min_entropy, non_overlap, max_starts) -> dict of columns (native uint64 bytes) and left-out counts.
// With `text` true, `data` is a str searched in code points; otherwise any buffer, searched in bytes.
PyObject* repeats(PyObject*, PyObject* args) noexcept {
    return guarded([&] {
        PyObject *data, *top, *max_length, *min_entropy, *max_starts;
        int text = 0, maximal = 1, periodic = 1, non_overlap = 1;
        unsigned long long min_count = 2, min_length = 4;
        const char* rank = nullptr;
        if (!PyArg_ParseTuple(args, "OpOKKOsppOpO:repeats", &data, &text, &top, &min_count, &min_length,
                              &max_length, &rank, &maximal, &periodic, &min_entropy, &non_overlap, &max_starts)) {
            py::throw_python_error();
        }
        // Validated before any work, and before the lock is let go.
        const rp::Options options = repeats_options(top, min_count, min_length, max_length, rank, maximal, periodic,
                                                    min_entropy, non_overlap, max_starts);
        rp::RepeatsResult found;
        if (text) {
            if (!PyUnicode_Check(data)) {
                PyErr_SetString(PyExc_TypeError, "a text search needs a str");
                py::throw_python_error();
            }
            // A str cannot change: its code points are searched in place, in the
            // width the interpreter stores them in.
            const void* elements = PyUnicode_DATA(data);
            const auto n = static_cast<std::size_t>(PyUnicode_GET_LENGTH(data));
            const int kind = PyUnicode_KIND(data);
            WithoutGil unlocked;
            if (kind == PyUnicode_1BYTE_KIND) {
                found = search<Py_UCS1>(elements, n, options);
            } else if (kind == PyUnicode_2BYTE_KIND) {
                found = search<Py_UCS2>(elements, n, options);
            } else {
                found = search<Py_UCS4>(elements, n, options);
            }
        } else {
            InputBytes input(data);
            input.make_private();  // suffix sorting must not see the bytes change under it
            WithoutGil unlocked;
            found = search<std::uint8_t>(input.bytes().data(), input.bytes().size(), options);
        }
        PyRef dict = PyRef::steal(check(PyDict_New()));
        add_repeats_columns(dict.get(), found);
        return dict;
    });
}

// longest_run(data) -> (value, start, length): the first longest run of one byte value.
PyObject* longest_run(PyObject*, PyObject* data) noexcept {
    return guarded([&] {
        InputBytes input(data);
        util::ByteRun run;
        {
            WithoutGil unlocked;
            run = util::longest_run(input.bytes().data(), input.bytes().size());
        }
        return PyRef::steal(check(Py_BuildValue("(iKK)", run.value, static_cast<unsigned long long>(run.start),
                                                static_cast<unsigned long long>(run.length))));
    });
}

}  // namespace

PyMethodDef REPEATS_FUNCTIONS[] = {
    {"repeats", as_method(&repeats), METH_VARARGS,
     "repeats(data, text, top, min_count, min_length, max_length, rank, maximal, exclude_periodic, min_entropy, "
     "non_overlap, max_starts, /)\n--\n\nThe repeats search; columns as native uint64 bytes."},
    {"longest_run", as_method(&longest_run), METH_O,
     "longest_run(data, /)\n--\n\n(value, start, length) of the first longest run of one byte value."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace veltrane::engine
