// Owning handles for Python references and buffers.
//
// Every strong reference the binding layer holds lives in a PyRef, so an early
// return or a C++ exception can never leak one. Borrowed references stay raw
// PyObject pointers: the type tells the reader who owns what.
#pragma once

#include <Python.h>

#include <utility>

namespace veltrane::py {

class PyRef {
public:
    PyRef() noexcept = default;
    // Takes over a new reference (may be NULL).
    static PyRef steal(PyObject* obj) noexcept { return PyRef(obj); }
    // Adds a reference to a borrowed object.
    static PyRef borrow(PyObject* obj) noexcept {
        Py_XINCREF(obj);
        return PyRef(obj);
    }

    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(obj_);
            obj_ = std::exchange(other.obj_, nullptr);
        }
        return *this;
    }
    ~PyRef() { Py_XDECREF(obj_); }

    PyObject* get() const noexcept { return obj_; }
    explicit operator bool() const noexcept { return obj_ != nullptr; }
    // Hands the reference to the caller (for returning to the interpreter).
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(obj_, nullptr); }

private:
    explicit PyRef(PyObject* obj) noexcept : obj_(obj) {}
    PyObject* obj_ = nullptr;
};

// A Py_buffer acquired with PyObject_GetBuffer, released exactly once.
class BufferRef {
public:
    BufferRef() noexcept = default;
    BufferRef(const BufferRef&) = delete;
    BufferRef& operator=(const BufferRef&) = delete;
    BufferRef(BufferRef&& other) noexcept : view_(other.view_), held_(std::exchange(other.held_, false)) {}
    BufferRef& operator=(BufferRef&& other) noexcept {
        if (this != &other) {
            reset();
            view_ = other.view_;
            held_ = std::exchange(other.held_, false);
        }
        return *this;
    }
    ~BufferRef() { reset(); }

    // Returns false with the interpreter's error set when the object refuses.
    bool acquire(PyObject* obj, int flags) noexcept {
        reset();
        held_ = PyObject_GetBuffer(obj, &view_, flags) == 0;
        return held_;
    }
    void reset() noexcept {
        if (held_) {
            PyBuffer_Release(&view_);
            held_ = false;
        }
    }
    const Py_buffer& view() const noexcept { return view_; }

private:
    Py_buffer view_{};
    bool held_ = false;
};

}  // namespace veltrane::py
