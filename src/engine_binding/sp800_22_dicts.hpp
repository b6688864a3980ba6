// SP 800-22's figures as dicts whose keys are the fields of the package's
// dataclasses, and its parameters read from a dict of the same names.
#pragma once

#include <Python.h>

#include "binding/pyref.hpp"
#include "sp800_22/battery.hpp"
#include "sp800_22/plan.hpp"
#include "sp800_22/second_level.hpp"

namespace veltrane::engine {

// The parameters named in `dict` (None or a dict of non-negative ints; 0 where
// the length decides); the others keep their defaults.
sp800_22::Parameters parameters_argument(PyObject* dict);

py::PyRef plan_dict(const sp800_22::Plan& plan);
py::PyRef sequence_dict(const sp800_22::SequenceFigures& s);
py::PyRef summary_dict(const sp800_22::SeriesSummary& s);

}  // namespace veltrane::engine
