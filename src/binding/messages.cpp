#include "messages.hpp"

#include <unordered_set>
#include <utility>

#include "compat.hpp"
#include "errors.hpp"
#include "once.hpp"

namespace veltrane::py {

namespace {

OnceObject SEQUENCE_CLASS;

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

}  // namespace

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

PyRef take_raised_exception() { return PyRef::steal(fetch_raised_exception()); }

void raise_enum_error(PyRef str_failure, PyRef bytes_failure) {
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
