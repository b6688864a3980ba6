#include "engine_binding/repeats_columns.hpp"

namespace veltrane::engine {

namespace rp = strings::repeats;

std::optional<std::uint64_t> optional_u64(PyObject* obj) {
    if (obj == Py_None) return std::nullopt;
    const unsigned long long value = PyLong_AsUnsignedLongLong(obj);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) py::throw_python_error();
    return value;
}

rp::Options repeats_options(PyObject* top, unsigned long long min_count, unsigned long long min_length,
                            PyObject* max_length, const char* rank, int maximal, int periodic, PyObject* min_entropy,
                            int non_overlap, PyObject* max_starts) {
    rp::Options options;
    options.top = optional_u64(top);
    options.min_count = min_count;
    options.min_length = min_length;
    options.max_length = optional_u64(max_length);
    options.rank = rp::parse_rank(rank);
    options.maximal = maximal != 0;
    options.exclude_periodic = periodic != 0;
    if (min_entropy != Py_None) {
        const double threshold = PyFloat_AsDouble(min_entropy);
        if (threshold == -1.0 && PyErr_Occurred()) py::throw_python_error();
        options.min_entropy = threshold;
    }
    options.non_overlap = non_overlap != 0;
    options.max_starts = optional_u64(max_starts);
    rp::validate(options);
    return options;
}

void set_item(PyObject* dict, const char* key, py::PyRef value) {
    if (PyDict_SetItemString(dict, key, value.get()) < 0) py::throw_python_error();
}

void add_repeats_columns(PyObject* dict, const rp::RepeatsResult& found) {
    set_item(dict, "lengths", column(found.lengths));
    set_item(dict, "counts", column(found.counts));
    set_item(dict, "firsts", column(found.firsts));
    set_item(dict, "scores", column(found.scores));
    set_item(dict, "offsets", column(found.offsets));
    set_item(dict, "starts", column(found.starts));
    set_item(dict, "truncated", column(found.truncated));
    const auto count = [](std::uint64_t n) { return py::PyRef::steal(py::check(PyLong_FromUnsignedLongLong(n))); };
    set_item(dict, "few_non_overlapping", count(found.left_out.few_non_overlapping));
    set_item(dict, "periodic", count(found.left_out.periodic));
    set_item(dict, "low_entropy", count(found.left_out.low_entropy));
    set_item(dict, "not_maximal", count(found.left_out.not_maximal));
}

}  // namespace veltrane::engine
