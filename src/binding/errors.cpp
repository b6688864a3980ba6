#include "errors.hpp"

#include <exception>
#include <new>
#include <stdexcept>

#include "pool/cancel.hpp"

namespace veltrane::py {

void set_error_from_current_exception() noexcept {
    try {
        throw;
    } catch (const PythonError&) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_SystemError, "an internal call failed without setting an exception");
        }
    } catch (const pool::Cancelled&) {
        // The hook stopped the call and left its exception set.
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_SystemError, "a call was stopped without an exception");
        }
    } catch (const std::bad_alloc&) {
        if (!PyErr_Occurred()) PyErr_NoMemory();
    } catch (const std::length_error&) {
        // A container refused a size it cannot represent: the request was too large for memory.
        if (!PyErr_Occurred()) PyErr_NoMemory();
    } catch (const std::invalid_argument& e) {
        // A core refused a value the caller gave (its message says which and why).
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::exception& e) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (...) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "unknown internal failure");
    }
}

bool python_interrupt_requested() noexcept { return PyErr_CheckSignals() != 0; }

PyObject* finish_call(PyObject* result) noexcept {
    if (result != nullptr && PyErr_Occurred()) {
        // A value together with a pending error would corrupt the caller's state;
        // the error wins and the value is dropped.
        Py_DECREF(result);
        return nullptr;
    }
    if (result == nullptr && !PyErr_Occurred()) {
        PyErr_SetString(PyExc_SystemError, "an internal call returned no result and no exception");
    }
    return result;
}

}  // namespace veltrane::py
