// The figures of SP 800-90B's estimators as dicts for the package's
// dataclasses, shared by the functions that return assessments.
#pragma once

#include <Python.h>

#include "binding/pyref.hpp"
#include "sp800_90b/assessment.hpp"

namespace veltrane::engine {

py::PyRef mcv_dict(const sp800_90b::MostCommonValue& r);
py::PyRef assessment_dict(const sp800_90b::Assessment& a);

}  // namespace veltrane::engine
