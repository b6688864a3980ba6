// An engine object whose methods run without the interpreter lock must not be
// entered by a second thread meanwhile: that thread would change the object's
// C++ state under the first. The flag is read and set with the lock held, so
// the check itself is safe; the second caller gets a RuntimeError.
#pragma once

#include <Python.h>

#include "binding/errors.hpp"

namespace veltrane::engine {

class ExclusiveUse {
public:
    ExclusiveUse(bool& busy, const char* what) : busy_(busy) {
        if (busy_) {
            PyErr_Format(PyExc_RuntimeError, "this %s is in use by another thread", what);
            py::throw_python_error();
        }
        busy_ = true;
    }
    ~ExclusiveUse() { busy_ = false; }
    ExclusiveUse(const ExclusiveUse&) = delete;
    ExclusiveUse& operator=(const ExclusiveUse&) = delete;

private:
    bool& busy_;
};

}  // namespace veltrane::engine
