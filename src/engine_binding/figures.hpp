// The battery's figures as the package's own result objects, built here.
//
// A small input's measurement is mostly spent holding the interpreter lock on
// its answer: some twenty keys, 256 counts, two instances. While one thread
// does that, no other thread's call can start or end, so the answer is made
// as cheaply as the interpreter allows: its keys are interned once per module
// (EngineState), and the instances of the package's classes are made here and
// given their attribute dicts whole, as object.__new__ and a __dict__
// assignment would, without going through a frozen dataclass's __init__.
#pragma once

#include <Python.h>

#include <cstddef>

#include "battery/finish.hpp"
#include "binding/pyref.hpp"

namespace veltrane::engine {

// Counts below this are shared objects made once: a histogram of an input up
// to the parallel threshold (256 KiB) holds counts of about a thousand, which
// would otherwise be some 256 new ints made holding the lock on every call.
inline constexpr std::size_t SHARED_COUNTS = 2048;

// The module's per-interpreter state: the attribute names of the figures, and
// the ints 0 .. SHARED_COUNTS - 1.
struct EngineState {
    PyObject* keys[32];
    PyObject* counts[SHARED_COUNTS];
};

int init_state(PyObject* module);
int traverse_state(PyObject* module, visitproc visit, void* arg);
int clear_state(PyObject* module);

// An instance of `measures_type` (with an instance of `ent_type` as its `ent`)
// holding the figures of `r`. Both must be classes that object.__new__ makes
// (TypeError otherwise) and whose instances have an attribute dict
// (AttributeError otherwise).
py::PyRef make_figures(PyObject* module, const battery::Result& r, PyObject* measures_type, PyObject* ent_type);

}  // namespace veltrane::engine
