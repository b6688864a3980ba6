// The data argument of the engine's functions: the raw bytes of any buffer, or
// the UTF-8 bytes of a str.
//
// The rule is the one the Python ecosystem uses for binary data (hashlib, zlib):
// an object with the buffer protocol is read as its bytes, in place, whatever its
// item type or shape; a buffer that is not C-contiguous is copied once; a str is
// read as its UTF-8 form; anything else is refused with a TypeError saying what
// is accepted. The buffer is held until the object is destroyed, so its memory
// stays put (a bytearray cannot be resized meanwhile, an mmap not closed) while
// the computation runs without the interpreter lock.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "binding/pyref.hpp"

namespace veltrane::engine {

class InputBytes {
public:
    // Throws PythonError with a TypeError (or the buffer exporter's own error) set.
    explicit InputBytes(PyObject* obj);

    std::span<const std::uint8_t> bytes() const noexcept { return {data_, size_}; }
    // Whether other code may change the bytes while they are read (a writable
    // buffer, read in place). A computation that must see fixed bytes copies them.
    bool may_change() const noexcept { return may_change_; }
    // Copies writable bytes so that nothing can change them any more; call with
    // the interpreter lock held.
    void make_private();

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    bool may_change_ = false;
    py::PyRef keep_;
    py::BufferRef buffer_;
    std::vector<std::uint8_t> copy_;
};

}  // namespace veltrane::engine
