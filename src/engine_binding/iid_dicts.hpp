// The IID track's figures as nested dicts whose keys are the fields of the
// package's dataclasses, and the seed argument. Long double figures come as
// pairs of doubles (high, low) whose sum is exact, so that the package can
// print the digits NIST's tool prints.
#pragma once

#include <Python.h>

#include "binding/pyref.hpp"
#include "sp800_90b_iid/iid.hpp"

namespace veltrane::engine {

py::PyRef permutation_dict(const sp800_90b::iid::PermutationTest& p);
py::PyRef iid_dict(const sp800_90b::iid::IidAssessment& a);

// Exactly 32 bytes of any buffer (ValueError otherwise).
sp800_90b::iid::Seed seed_argument(PyObject* obj);

}  // namespace veltrane::engine
