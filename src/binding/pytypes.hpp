// The `data` argument and its conversion (the scalar arguments are in scalars.hpp).
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "pyref.hpp"
#include "scalars.hpp"

namespace veltrane::py {

// The `data` argument: the UTF-8 bytes of a text, or the bytes of a byte sequence.
//
// Immutable sources (bytes, the UTF-8 form of a str, read-only buffers) are
// borrowed for the call: the calling thread holds the interpreter lock
// throughout, so they cannot change. Everything else is copied, except that a
// writable buffer is read in place and reported by may_change(); a consumer that
// needs the bytes to stay fixed calls make_private() first.
class BytesOrStr {
public:
    enum class Kind { Str, Bytes };

    bool is_str() const noexcept { return kind_ == Kind::Str; }
    std::span<const std::uint8_t> bytes() const noexcept { return {data_, size_}; }
    // The source str of a Str value (borrowed; kept alive by this object).
    PyObject* source_str() const noexcept { return kind_ == Kind::Str ? keep_.get() : nullptr; }
    bool may_change() const noexcept { return may_change_; }
    void make_private();

    static BytesOrStr from_str(PyObject* str, const char* utf8, Py_ssize_t size);
    static BytesOrStr borrowed_bytes(PyObject* owner, const char* data, Py_ssize_t size);
    static BytesOrStr from_buffer(BufferRef buffer);
    static BytesOrStr owned_bytes(std::vector<std::uint8_t> bytes);

private:
    Kind kind_ = Kind::Bytes;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    bool may_change_ = false;
    PyRef keep_;
    BufferRef buffer_;
    std::vector<std::uint8_t> owned_;
};

// Each conversion returns the value or throws PythonError with the exception set.
BytesOrStr convert_bytes_or_str(PyObject* obj);
std::uint8_t convert_item_to_byte(PyObject* item);

// Picks the converter for a parameter type in the call frame's table.
template <class T>
struct FromPython;
template <>
struct FromPython<BytesOrStr> {
    static BytesOrStr convert(PyObject* obj) { return convert_bytes_or_str(obj); }
};
template <>
struct FromPython<std::uint64_t> {
    static std::uint64_t convert(PyObject* obj) { return convert_u64(obj); }
};
template <>
struct FromPython<bool> {
    static bool convert(PyObject* obj) { return convert_bool(obj); }
};

}  // namespace veltrane::py
