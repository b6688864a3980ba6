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

#include "battery/finish.hpp"
#include "binding/pyref.hpp"

namespace veltrane::engine {

// The module's per-interpreter state: the attribute names of the figures.
struct EngineState {
    PyObject* keys[32];
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
