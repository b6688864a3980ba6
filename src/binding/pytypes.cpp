#include "pytypes.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include "compat.hpp"
#include "errors.hpp"
#include "pool/cancel.hpp"
#include "messages.hpp"

namespace veltrane::py {

namespace {

// A hostile __len__ may claim anything: reserve no more than this up front and
// let the buffer grow with the items that really arrive.
constexpr Py_ssize_t MAX_RESERVED_ITEMS = Py_ssize_t{1} << 24;

// Only the native spelling: a memoryview iterates native formats alone and
// refuses "<B" and the like, so those must take the item-by-item path.
bool is_unsigned_byte_format(const char* format) {
    return format == nullptr || std::strcmp(format, "B") == 0 || std::strcmp(format, "@B") == 0;
}

// Whether `obj` is exactly module.name (not a subclass, not a look-alike). A
// module that was never imported cannot have made the object.
bool is_exactly(PyObject* obj, const char* module, const char* name) {
    PyRef module_name = PyRef::steal(PyUnicode_FromString(module));
    PyRef loaded = module_name ? PyRef::steal(PyImport_GetModule(module_name.get())) : PyRef();
    PyRef type = loaded ? PyRef::steal(PyObject_GetAttrString(loaded.get(), name)) : PyRef();
    PyErr_Clear();
    return type && reinterpret_cast<PyObject*>(Py_TYPE(obj)) == type.get();
}

// Exact types whose iteration yields the integers of their buffer, so reading
// the buffer gives what item-by-item conversion would. Subclasses may override
// iteration and do not qualify. (An mmap iterates one-byte bytes objects, not
// integers, so it is not among them; a memoryview of it is.)
bool may_read_as_buffer(PyObject* obj) {
    PyTypeObject* type = Py_TYPE(obj);
    if (type == &PyMemoryView_Type) return true;
    const char* name = type->tp_name;
    if (std::strcmp(name, "numpy.ndarray") == 0) return is_exactly(obj, "numpy", "ndarray");
    if (std::strcmp(name, "array.array") == 0) return is_exactly(obj, "array", "array");
    return false;
}

// A one-dimensional, contiguous buffer of unsigned bytes, or nothing.
bool try_byte_buffer(PyObject* obj, BufferRef& buffer) {
    if (!buffer.acquire(obj, PyBUF_RECORDS_RO)) {
        // A memoryview refuses only once released, and iterating a released view
        // reads freed memory in some interpreters (3.11): its refusal is the answer,
        // and it is the error that iterating it reports where iteration is sound.
        if (Py_IS_TYPE(obj, &PyMemoryView_Type)) throw_python_error();
        // Other exporters meet the same refusal on the item-by-item path and report it there.
        PyErr_Clear();
        return false;
    }
    const Py_buffer& view = buffer.view();
    bool contiguous = view.strides == nullptr || view.len <= 1 || view.strides[0] == 1;
    if (view.ndim == 1 && view.itemsize == 1 && contiguous && is_unsigned_byte_format(view.format)) return true;
    buffer.reset();
    return false;
}

std::vector<std::uint8_t> collect_items(PyObject* obj) {
    std::vector<std::uint8_t> out;
    Py_ssize_t hint = PyObject_Size(obj);
    if (hint < 0) {
        PyErr_Clear();  // the length only sizes the buffer
        hint = 0;
    }
    out.reserve(static_cast<std::size_t>(std::min(hint, MAX_RESERVED_ITEMS)));
    if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) {
        // What the built-in iterators do, without their allocation: the length is
        // read again each step because an item's __index__ may shrink the list.
        const bool is_list = PyList_CheckExact(obj);
        for (Py_ssize_t i = 0; i < (is_list ? PyList_GET_SIZE(obj) : PyTuple_GET_SIZE(obj)); ++i) {
            pool::checkpoint();  // a list of a billion ints takes seconds to read
            PyRef item = PyRef::borrow(is_list ? PyList_GET_ITEM(obj, i) : PyTuple_GET_ITEM(obj, i));
            out.push_back(convert_item_to_byte(item.get()));
        }
        return out;
    }
    PyRef iter = PyRef::steal(check(PyObject_GetIter(obj)));
    for (;;) {
        PyObject* raw = nullptr;
        int status = iter_next_item(iter.get(), &raw);
        if (status < 0) throw_python_error();
        if (status == 0) break;
        PyRef item = PyRef::steal(raw);
        pool::checkpoint();
        out.push_back(convert_item_to_byte(item.get()));
    }
    return out;
}

BytesOrStr convert_bytes_variant(PyObject* obj) {
    if (PyBytes_Check(obj)) {
        return BytesOrStr::borrowed_bytes(obj, PyBytes_AS_STRING(obj), PyBytes_GET_SIZE(obj));
    }
    if (PyType_IsSubtype(Py_TYPE(obj), &PyByteArray_Type)) {
        const auto* begin = reinterpret_cast<const std::uint8_t*>(PyByteArray_AS_STRING(obj));
        return BytesOrStr::owned_bytes(std::vector<std::uint8_t>(begin, begin + PyByteArray_GET_SIZE(obj)));
    }
    if (!PySequence_Check(obj)) raise_cast_error(obj, sequence_class());
    if (may_read_as_buffer(obj)) {
        BufferRef buffer;
        if (try_byte_buffer(obj, buffer)) return BytesOrStr::from_buffer(std::move(buffer));
    }
    return BytesOrStr::owned_bytes(collect_items(obj));
}

}  // namespace

BytesOrStr BytesOrStr::from_str(PyObject* str, const char* utf8, Py_ssize_t size) {
    BytesOrStr value;
    value.kind_ = Kind::Str;
    value.keep_ = PyRef::borrow(str);
    value.data_ = reinterpret_cast<const std::uint8_t*>(utf8);
    value.size_ = static_cast<std::size_t>(size);
    return value;
}

BytesOrStr BytesOrStr::borrowed_bytes(PyObject* owner, const char* data, Py_ssize_t size) {
    BytesOrStr value;
    value.keep_ = PyRef::borrow(owner);
    value.data_ = reinterpret_cast<const std::uint8_t*>(data);
    value.size_ = static_cast<std::size_t>(size);
    return value;
}

BytesOrStr BytesOrStr::from_buffer(BufferRef buffer) {
    BytesOrStr value;
    value.data_ = static_cast<const std::uint8_t*>(buffer.view().buf);
    value.size_ = static_cast<std::size_t>(buffer.view().len);
    value.may_change_ = !buffer.view().readonly;
    value.buffer_ = std::move(buffer);
    return value;
}

BytesOrStr BytesOrStr::owned_bytes(std::vector<std::uint8_t> bytes) {
    BytesOrStr value;
    value.owned_ = std::move(bytes);
    value.data_ = value.owned_.data();
    value.size_ = value.owned_.size();
    return value;
}

void BytesOrStr::make_private() {
    if (!may_change_) return;
    owned_.assign(data_, data_ + size_);
    data_ = owned_.data();
    buffer_.reset();
    may_change_ = false;
}

BytesOrStr convert_bytes_or_str(PyObject* obj) {
    if (PyUnicode_Check(obj)) {
        Py_ssize_t size = 0;
        if (const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size)) return BytesOrStr::from_str(obj, utf8, size);
        // Not encodable (a lone surrogate); the Bytes variant never reads a text.
        PyRef str_failure = take_raised_exception();
        PyRef bytes_failure = new_exception(PyExc_TypeError, "Can't extract `str` to `Vec`");
        raise_enum_error(std::move(str_failure), std::move(bytes_failure));
    }
    try {
        return convert_bytes_variant(obj);
    } catch (const PythonError&) {
        PyRef bytes_failure = take_raised_exception();
        set_cast_error(obj, reinterpret_cast<PyObject*>(&PyUnicode_Type));
        PyRef str_failure = take_raised_exception();
        raise_enum_error(std::move(str_failure), std::move(bytes_failure));
    }
}

std::uint8_t convert_item_to_byte(PyObject* item) {
    long value = PyLong_AsLong(item);
    if (value == -1 && PyErr_Occurred()) throw_python_error();
    if (static_cast<unsigned long>(value) > 255) {
        PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
        throw_python_error();
    }
    return static_cast<std::uint8_t>(value);
}

}  // namespace veltrane::py
