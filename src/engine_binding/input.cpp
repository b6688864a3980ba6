#include "engine_binding/input.hpp"

#include "binding/errors.hpp"

namespace veltrane::engine {

namespace {

constexpr const char* ACCEPTED =
    "data must be a bytes-like object (bytes, bytearray, memoryview, mmap, array.array, a numpy array or any "
    "other object with the buffer protocol) or a str, not '%.200s'";

}  // namespace

InputBytes::InputBytes(PyObject* obj) {
    if (PyUnicode_Check(obj)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size);  // cached in the str, which cannot change
        if (utf8 == nullptr) py::throw_python_error();
        keep_ = py::PyRef::borrow(obj);
        data_ = reinterpret_cast<const std::uint8_t*>(utf8);
        size_ = static_cast<std::size_t>(size);
        return;
    }
    if (!PyObject_CheckBuffer(obj)) {
        PyErr_Format(PyExc_TypeError, ACCEPTED, Py_TYPE(obj)->tp_name);
        py::throw_python_error();
    }
    // Strides are asked for so that any exporter answers; the bytes are read as raw
    // memory whatever the item format says.
    if (!buffer_.acquire(obj, PyBUF_FULL_RO)) py::throw_python_error();
    const Py_buffer& view = buffer_.view();
    size_ = static_cast<std::size_t>(view.len);
    may_change_ = !view.readonly;
    if (PyBuffer_IsContiguous(&view, 'C')) {
        data_ = static_cast<const std::uint8_t*>(view.buf);
        return;
    }
    copy_.resize(size_);
    if (PyBuffer_ToContiguous(copy_.data(), &view, view.len, 'C') < 0) py::throw_python_error();
    buffer_.reset();
    data_ = copy_.data();
    may_change_ = false;
}

void InputBytes::make_private() {
    if (!may_change_) return;
    copy_.assign(data_, data_ + size_);
    data_ = copy_.data();
    buffer_.reset();
    may_change_ = false;
}

}  // namespace veltrane::engine
