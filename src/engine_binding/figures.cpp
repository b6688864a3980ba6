#include "engine_binding/figures.hpp"

#include <cstddef>
#include <cstdint>

#include "binding/errors.hpp"

namespace veltrane::engine {

namespace {

using py::check;
using py::PyRef;

// The fields of Measures, then those of EntFigures, as the package declares them.
enum Key : std::size_t {
    BITS, SIZE, HISTOGRAM, SHANNON_ENTROPY, METRIC_ENTROPY, NORMALIZED_ENTROPY, MIN_ENTROPY, MIN_ENTROPY_MCV,
    CHI_SQUARE, CHI_SQUARE_DF, CHI_SQUARE_P, MEAN, MONTE_CARLO_PI, MONTE_CARLO_ERROR, SERIAL_CORRELATION,
    COMPRESSION, ENT,
    ENT_ENTROPY, ENT_COMPRESSION, ENT_CHI_SQUARE_P, ENT_SERIAL_CORRELATION_UNDEFINED,
    KEY_COUNT
};

constexpr const char* KEY_NAMES[KEY_COUNT] = {
    "bits", "size", "histogram", "shannon_entropy", "metric_entropy", "normalized_entropy", "min_entropy",
    "min_entropy_mcv", "chi_square", "chi_square_df", "chi_square_p", "mean", "monte_carlo_pi",
    "monte_carlo_error", "serial_correlation", "compression", "ent",
    "entropy", "compression", "chi_square_p", "serial_correlation_undefined",
};

static_assert(KEY_COUNT <= sizeof(EngineState::keys) / sizeof(PyObject*));

// The figures that are plain floats, by their key.
struct FloatFigure {
    Key key;
    double battery::Result::*figure;
};
constexpr FloatFigure FLOAT_FIGURES[] = {
    {SHANNON_ENTROPY, &battery::Result::shannon_entropy},
    {METRIC_ENTROPY, &battery::Result::metric_entropy},
    {NORMALIZED_ENTROPY, &battery::Result::normalized_entropy},
    {MIN_ENTROPY, &battery::Result::min_entropy},
    {MIN_ENTROPY_MCV, &battery::Result::min_entropy_mcv},
    {CHI_SQUARE, &battery::Result::chi_square},
    {CHI_SQUARE_P, &battery::Result::chi_square_p},
    {MEAN, &battery::Result::mean},
    {MONTE_CARLO_PI, &battery::Result::monte_carlo_pi},
    {MONTE_CARLO_ERROR, &battery::Result::monte_carlo_error_percent},
    {SERIAL_CORRELATION, &battery::Result::serial_correlation},
    {COMPRESSION, &battery::Result::compression_percent},
};

EngineState& state_of(PyObject* module) { return *static_cast<EngineState*>(PyModule_GetState(module)); }

// Sets d[key] to a new reference (NULL when making it failed).
void put(PyObject* d, PyObject* key, PyObject* value) {
    PyRef owned = PyRef::steal(check(value));
    if (PyDict_SetItem(d, key, owned.get()) < 0) py::throw_python_error();
}

PyRef histogram_of(const EngineState& state, const battery::Result& r) {
    PyRef counts = PyRef::steal(check(PyTuple_New(static_cast<Py_ssize_t>(r.histogram.size()))));
    for (std::size_t i = 0; i < r.histogram.size(); ++i) {
        const std::uint64_t c = r.histogram[i];
        PyObject* count = c < SHARED_COUNTS ? Py_NewRef(state.counts[c]) : check(PyLong_FromUnsignedLongLong(c));
        PyTuple_SET_ITEM(counts.get(), static_cast<Py_ssize_t>(i), count);
    }
    return counts;
}

// An instance of `type` whose attributes are `dict`, made as object.__new__(type) would make it.
PyRef instance_of(PyObject* type, PyObject* dict) {
    if (!PyType_Check(type)) {
        PyErr_Format(PyExc_TypeError, "a class is needed for the figures, not '%.200s'", Py_TYPE(type)->tp_name);
        py::throw_python_error();
    }
    // Only a class that object.__new__ makes: another type's instances need their own constructor.
    if (reinterpret_cast<PyTypeObject*>(type)->tp_new != PyBaseObject_Type.tp_new) {
        PyErr_Format(PyExc_TypeError, "the figures' class must be an ordinary class, not '%.200s'",
                     reinterpret_cast<PyTypeObject*>(type)->tp_name);
        py::throw_python_error();
    }
    PyRef no_args = PyRef::steal(check(PyTuple_New(0)));
    PyRef made = PyRef::steal(
        check(PyBaseObject_Type.tp_new(reinterpret_cast<PyTypeObject*>(type), no_args.get(), nullptr)));
    if (PyObject_GenericSetDict(made.get(), dict, nullptr) < 0) py::throw_python_error();
    return made;
}

}  // namespace

int init_state(PyObject* module) {
    EngineState& s = state_of(module);
    for (std::size_t k = 0; k < KEY_COUNT; ++k) {
        s.keys[k] = PyUnicode_InternFromString(KEY_NAMES[k]);
        if (s.keys[k] == nullptr) return -1;
    }
    for (std::size_t c = 0; c < SHARED_COUNTS; ++c) {
        s.counts[c] = PyLong_FromSize_t(c);
        if (s.counts[c] == nullptr) return -1;
    }
    return 0;
}

int traverse_state(PyObject* module, visitproc visit, void* arg) {
    EngineState* s = static_cast<EngineState*>(PyModule_GetState(module));
    if (s == nullptr) return 0;
    for (std::size_t k = 0; k < KEY_COUNT; ++k) Py_VISIT(s->keys[k]);
    for (PyObject* count : s->counts) Py_VISIT(count);
    return 0;
}

int clear_state(PyObject* module) {
    EngineState* s = static_cast<EngineState*>(PyModule_GetState(module));
    if (s == nullptr) return 0;
    for (std::size_t k = 0; k < KEY_COUNT; ++k) Py_CLEAR(s->keys[k]);
    for (PyObject*& count : s->counts) Py_CLEAR(count);
    return 0;
}

PyRef make_figures(PyObject* module, const battery::Result& r, PyObject* measures_type, PyObject* ent_type) {
    const EngineState& state = state_of(module);
    PyObject* const* key = state.keys;
    PyRef ent_dict = PyRef::steal(check(PyDict_New()));
    PyObject* e = ent_dict.get();
    // What ent prints where its arithmetic differs: for the ent-compatible output only.
    put(e, key[ENT_ENTROPY], PyFloat_FromDouble(r.ent.entropy));
    put(e, key[ENT_COMPRESSION], PyLong_FromUnsignedLongLong(static_cast<std::uint64_t>(r.ent.compression_percent)));
    put(e, key[ENT_CHI_SQUARE_P], PyFloat_FromDouble(r.ent.chi_square_p));
    put(e, key[ENT_SERIAL_CORRELATION_UNDEFINED], PyBool_FromLong(r.ent.serial_correlation_undefined));

    PyRef dict = PyRef::steal(check(PyDict_New()));
    PyObject* d = dict.get();
    put(d, key[BITS], PyBool_FromLong(r.bits));
    put(d, key[SIZE], PyLong_FromUnsignedLongLong(r.size));
    put(d, key[HISTOGRAM], histogram_of(state, r).release());
    put(d, key[CHI_SQUARE_DF], PyLong_FromUnsignedLongLong(r.chi_square_df));
    for (const auto& [k, figure] : FLOAT_FIGURES) put(d, key[k], PyFloat_FromDouble(r.*figure));
    put(d, key[ENT], instance_of(ent_type, e).release());
    return instance_of(measures_type, d);
}

}  // namespace veltrane::engine
