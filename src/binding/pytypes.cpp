#include "pytypes.hpp"

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <utility>

#include "compat.hpp"
#include "errors.hpp"
#include "pool/cancel.hpp"
#include "once.hpp"

namespace veltrane::py {

namespace {

// A hostile __len__ may claim anything: reserve no more than this up front and
// let the buffer grow with the items that really arrive.
constexpr Py_ssize_t MAX_RESERVED_ITEMS = Py_ssize_t{1} << 24;

OnceObject SEQUENCE_CLASS;

PyObject* sequence_class() {
    return SEQUENCE_CLASS.get_or_init([] {
        PyRef abc = PyRef::steal(check(PyImport_ImportModule("collections.abc")));
        return PyRef::steal(check(PyObject_GetAttrString(abc.get(), "Sequence")));
    });
}

PyRef new_exception(PyObject* type, const char* message) {
    PyRef text = PyRef::steal(check(PyUnicode_FromString(message)));
    return PyRef::steal(check(PyObject_CallOneArg(type, text.get())));
}

// "<qualified type name>: <str(exc)>", as one exception of a chain is described.
PyRef describe_exception(PyObject* exc) {
    PyRef qualname = PyRef::steal(PyType_GetQualName(Py_TYPE(exc)));
    if (!qualname) {
        PyErr_Clear();
        qualname = PyRef::steal(check(PyUnicode_FromString("<failed to extract type name>")));
    }
    PyRef text = PyRef::steal(PyObject_Str(exc));
    if (!text) {
        PyErr_Clear();
        return PyRef::steal(check(PyUnicode_FromFormat("%U: <exception str() failed>", qualname.get())));
    }
    return PyRef::steal(check(PyUnicode_FromFormat("%U: %U", qualname.get(), text.get())));
}

// The wrapper, then every exception along its cause chain.
void describe_chain(PyObject* wrapper, PyObject* pieces) {
    std::unordered_set<PyObject*> seen;  // a cause chain can be made circular by hand
    PyRef current = PyRef::borrow(wrapper);
    bool first = true;
    while (current && seen.insert(current.get()).second) {
        if (!first) {
            PyRef sep = PyRef::steal(check(PyUnicode_FromString(", caused by ")));
            if (PyList_Append(pieces, sep.get()) < 0) throw_python_error();
        }
        first = false;
        PyRef text = describe_exception(current.get());
        if (PyList_Append(pieces, text.get()) < 0) throw_python_error();
        current = PyRef::steal(PyException_GetCause(current.get()));
    }
}

// Both variants failed: raises the composed TypeError (without a cause).
[[noreturn]] void raise_enum_error(PyRef str_failure, PyRef bytes_failure) {
    struct Variant {
        const char* header;
        const char* field;
        PyRef failure;
    } variants[] = {
        {"\n- variant Str (Str): ", "failed to extract field BytesOrStr::Str.0", std::move(str_failure)},
        {"\n- variant Bytes (Bytes): ", "failed to extract field BytesOrStr::Bytes.0", std::move(bytes_failure)},
    };
    PyRef pieces = PyRef::steal(check(PyList_New(0)));
    PyRef title = PyRef::steal(check(PyUnicode_FromString("failed to extract enum BytesOrStr ('Str | Bytes')")));
    if (PyList_Append(pieces.get(), title.get()) < 0) throw_python_error();
    for (Variant& variant : variants) {
        PyRef header = PyRef::steal(check(PyUnicode_FromString(variant.header)));
        if (PyList_Append(pieces.get(), header.get()) < 0) throw_python_error();
        PyRef wrapper = new_exception(PyExc_TypeError, variant.field);
        PyException_SetCause(wrapper.get(), variant.failure.release());
        describe_chain(wrapper.get(), pieces.get());
    }
    PyRef empty = PyRef::steal(check(PyUnicode_FromString("")));
    PyRef message = PyRef::steal(check(PyUnicode_Join(empty.get(), pieces.get())));
    PyErr_SetObject(PyExc_TypeError, message.get());
    throw_python_error();
}

// The raised exception as an owned object, for a variant that failed.
PyRef take_raised_exception() { return PyRef::steal(fetch_raised_exception()); }

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
    if (PyUnicode_Check(obj)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        throw_python_error();
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

std::uint64_t convert_u64(PyObject* obj) {
    PyRef index;
    if (!PyLong_Check(obj)) {
        index = PyRef::steal(check(PyNumber_Index(obj)));
        obj = index.get();
    }
    unsigned long long value = PyLong_AsUnsignedLongLong(obj);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_python_error();
    return value;
}

namespace {

// Whether `type` is numpy's boolean scalar type; lookup failures count as "no".
bool is_numpy_bool_type(PyTypeObject* type) {
    PyRef module = PyRef::steal(type_module_name(type));
    if (!module || !PyUnicode_Check(module.get()) || PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) {
        PyErr_Clear();
        return false;
    }
    PyRef name = PyRef::steal(PyType_GetName(type));
    if (!name || !PyUnicode_Check(name.get())) {
        PyErr_Clear();
        return false;
    }
    return PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
           PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0;
}

}  // namespace

bool convert_bool(PyObject* obj) {
    if (Py_IS_TYPE(obj, &PyBool_Type)) return obj == Py_True;
    PyTypeObject* type = Py_TYPE(obj);
    if (!is_numpy_bool_type(type)) raise_cast_error(obj, reinterpret_cast<PyObject*>(&PyBool_Type));
    inquiry nb_bool = type->tp_as_number != nullptr ? type->tp_as_number->nb_bool : nullptr;
    if (nb_bool == nullptr) {
        PyErr_Format(PyExc_TypeError, "object of type '%S' does not define a '__bool__' conversion",
                     reinterpret_cast<PyObject*>(type));
        throw_python_error();
    }
    int truth = nb_bool(obj);
    if (truth == 0 || truth == 1) return truth == 1;
    if (!PyErr_Occurred()) {
        PyErr_Format(PyExc_SystemError, "__bool__ of '%s' failed without setting an exception", type->tp_name);
    }
    throw_python_error();
}

void set_cast_error(PyObject* obj, PyObject* target) noexcept {
    PyRef target_name = PyRef::steal(PyType_GetQualName(reinterpret_cast<PyTypeObject*>(target)));
    if (!target_name) return;
    if (obj == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%U'", target_name.get());
        return;
    }
    PyRef type_name = PyRef::steal(PyType_GetQualName(Py_TYPE(obj)));
    if (!type_name) {
        PyErr_Clear();
        type_name = PyRef::steal(PyUnicode_FromString("<failed to extract type name>"));
        if (!type_name) return;
    }
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%U'", type_name.get(), target_name.get());
}

void raise_cast_error(PyObject* obj, PyObject* target) {
    set_cast_error(obj, target);
    throw_python_error();
}

void add_parameter_note(const char* parameter) noexcept {
    PyObject* exc = fetch_raised_exception();
    if (exc == nullptr) return;
    PyRef note = PyRef::steal(PyUnicode_FromFormat("while processing '%s'", parameter));
    PyRef method = PyRef::steal(PyUnicode_FromString("add_note"));
    if (note && method) {
        PyRef done = PyRef::steal(PyObject_CallMethodOneArg(exc, method.get(), note.get()));
    }
    PyErr_Clear();  // a failed note is dropped; the conversion's error stands as it was
    restore_raised_exception(exc);
}

}  // namespace veltrane::py
