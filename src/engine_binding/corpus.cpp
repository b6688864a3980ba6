// The corpus functions: what documents share, and exact deduplication. The
// package passes the corpus as one buffer of every document's bytes (its own,
// read only, so it is read in place) and their offsets as native uint64.
#include <Python.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "corpus/dedup.hpp"
#include "corpus/shared_repeats.hpp"
#include "engine_binding/call.hpp"
#include "engine_binding/functions.hpp"
#include "engine_binding/input.hpp"
#include "engine_binding/repeats_columns.hpp"
#include "engine_binding/without_gil.hpp"

namespace veltrane::engine {

namespace {

using py::check;
using py::PyRef;

// The document offsets, checked against the corpus's size.
std::vector<std::uint64_t> read_offsets(PyObject* obj, std::uint64_t size) {
    const InputBytes input(obj);
    if (input.bytes().size() % sizeof(std::uint64_t) != 0) {
        PyErr_SetString(PyExc_ValueError, "document offsets must be native uint64 values");
        py::throw_python_error();
    }
    std::vector<std::uint64_t> offsets(input.bytes().size() / sizeof(std::uint64_t));
    if (!offsets.empty()) std::memcpy(offsets.data(), input.bytes().data(), input.bytes().size());
    corpus::check_offsets(offsets, size);
    return offsets;
}

PyRef count(std::uint64_t n) { return PyRef::steal(check(PyLong_FromUnsignedLongLong(n))); }

// corpus_dedup(data, offsets, min_length, keep, whole_lines) -> dict: documents, starts,
// ends (uint64 columns), passes, removed_bytes.
PyObject* corpus_dedup(PyObject*, PyObject* args) noexcept {
    return guarded([&] {
        PyObject *data, *offsets_obj;
        unsigned long long min_length = 100;
        const char* keep = nullptr;
        int whole_lines = 0;
        if (!PyArg_ParseTuple(args, "OOKsp:corpus_dedup", &data, &offsets_obj, &min_length, &keep, &whole_lines)) {
            py::throw_python_error();
        }
        corpus::DedupOptions options;
        options.min_length = min_length;
        const std::string_view rule(keep);
        if (rule != "first" && rule != "none") {
            PyErr_Format(PyExc_ValueError, "keep must be 'first' or 'none', not '%s'", keep);
            py::throw_python_error();
        }
        options.keep = rule == "first" ? corpus::Keep::first : corpus::Keep::none;
        options.whole_lines = whole_lines != 0;
        corpus::validate(options);
        InputBytes input(data);
        input.make_private();
        const std::vector<std::uint64_t> offsets = read_offsets(offsets_obj, input.bytes().size());
        corpus::DedupResult result;
        {
            WithoutGil unlocked;
            result = corpus::find_duplicate_spans({input.bytes().data(), offsets}, options);
        }
        PyRef dict = PyRef::steal(check(PyDict_New()));
        set_item(dict.get(), "documents", column(result.documents));
        set_item(dict.get(), "starts", column(result.starts));
        set_item(dict.get(), "ends", column(result.ends));
        set_item(dict.get(), "passes", count(result.passes));
        set_item(dict.get(), "removed_bytes", count(result.removed_bytes));
        return dict;
    });
}

// corpus_repeats(data, offsets, top, min_count, min_length, max_length, rank, maximal,
//                exclude_periodic, min_entropy, non_overlap) -> dict: the repeats columns
// (starts and firsts as corpus positions), and per start its document, start and end in
// it, line and end line; per fragment the documents it touches.
PyObject* corpus_repeats(PyObject*, PyObject* args) noexcept {
    return guarded([&] {
        PyObject *data, *offsets_obj, *top, *max_length, *min_entropy;
        int maximal = 1, periodic = 1, non_overlap = 1;
        unsigned long long min_count = 2, min_length = 100;
        const char* rank = nullptr;
        if (!PyArg_ParseTuple(args, "OOOKKOsppOp:corpus_repeats", &data, &offsets_obj, &top, &min_count, &min_length,
                              &max_length, &rank, &maximal, &periodic, &min_entropy, &non_overlap)) {
            py::throw_python_error();
        }
        const strings::repeats::Options options = repeats_options(
            top, min_count, min_length, max_length, rank, maximal, periodic, min_entropy, non_overlap, Py_None);
        InputBytes input(data);
        input.make_private();
        const std::vector<std::uint64_t> offsets = read_offsets(offsets_obj, input.bytes().size());
        corpus::SharedRepeats shared;
        {
            WithoutGil unlocked;
            shared = corpus::find_shared_repeats({input.bytes().data(), offsets}, options);
        }
        PyRef dict = PyRef::steal(check(PyDict_New()));
        add_repeats_columns(dict.get(), shared.found);
        set_item(dict.get(), "documents", column(shared.documents));
        set_item(dict.get(), "document_starts", column(shared.starts));
        std::vector<std::uint64_t> ends(shared.starts.size());
        for (std::size_t f = 0; f < shared.found.size(); ++f) {
            for (std::uint64_t i = shared.found.offsets[f]; i < shared.found.offsets[f + 1]; ++i) {
                ends[i] = shared.starts[i] + shared.found.lengths[f];
            }
        }
        set_item(dict.get(), "document_ends", column(ends));
        set_item(dict.get(), "lines", column(shared.lines));
        set_item(dict.get(), "end_lines", column(shared.end_lines));
        set_item(dict.get(), "documents_touched", column(shared.documents_touched));
        return dict;
    });
}

}  // namespace

PyMethodDef CORPUS_FUNCTIONS[] = {
    {"corpus_dedup", as_method(&corpus_dedup), METH_VARARGS,
     "corpus_dedup(data, offsets, min_length, keep, whole_lines, /)\n--\n\n"
     "The ranges exact deduplication removes, as uint64 columns."},
    {"corpus_repeats", as_method(&corpus_repeats), METH_VARARGS,
     "corpus_repeats(data, offsets, top, min_count, min_length, max_length, rank, maximal, exclude_periodic, "
     "min_entropy, non_overlap, /)\n--\n\nWhat the documents share; columns as native uint64 bytes."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace veltrane::engine
