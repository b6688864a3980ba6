// Differences between the interpreters the module builds for.
//
// CPython 3.15 is the target: modules are exported through slot arrays
// (PyModExport_*, PySlot, PyABIInfo). 3.11 to 3.14 load the same module
// through PyInit_* and multi-phase initialisation; the shims below give the
// rest of the binding layer one vocabulary for both.
#pragma once

#include <Python.h>

#include <cstdint>

#define VELTRANE_HAS_SLOT_EXPORT (PY_VERSION_HEX >= 0x030F0000)

namespace veltrane::py {

#if VELTRANE_HAS_SLOT_EXPORT
using Slot = PySlot;
using AbiInfo = PyABIInfo;
#else
// Same layout as the 3.15 records, so the exported arrays are identical on every build.
struct Slot {
    std::uint16_t sl_id;
    std::uint16_t sl_flags;
    std::uint32_t sl_reserved;
    union {
        void* sl_ptr;
        std::uint64_t sl_uint64;
    };
};
struct AbiInfo {
    std::uint8_t abiinfo_major_version;
    std::uint8_t abiinfo_minor_version;
    std::uint16_t flags;
    std::uint32_t build_version;
    std::uint32_t abi_version;
};
#endif
static_assert(sizeof(Slot) == 16, "slot entries are 16 bytes");
static_assert(sizeof(AbiInfo) == 12, "ABI record layout");

// Fetches the raised exception as a normalised object (new reference, or NULL if none).
inline PyObject* fetch_raised_exception() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    if (type == nullptr) return nullptr;
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb != nullptr && value != nullptr) PyException_SetTraceback(value, tb);
    Py_XDECREF(type);
    Py_XDECREF(tb);
    return value;
#endif
}

// Sets an exception object as the raised exception, stealing the reference.
inline void restore_raised_exception(PyObject* exc) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exc);
#else
    PyObject* type = PyObject_Type(exc);
    PyObject* tb = PyException_GetTraceback(exc);
    PyErr_Restore(type, exc, tb);
#endif
}

// 1 with an item, 0 at the end, -1 with an error set.
inline int iter_next_item(PyObject* iter, PyObject** item) noexcept {
#if PY_VERSION_HEX >= 0x030E0000
    return PyIter_NextItem(iter, item);
#else
    *item = PyIter_Next(iter);
    if (*item != nullptr) return 1;
    return PyErr_Occurred() ? -1 : 0;
#endif
}

// The __module__ of a type as a new reference (NULL with an error set).
inline PyObject* type_module_name(PyTypeObject* type) noexcept {
#if PY_VERSION_HEX >= 0x030D0000
    return PyType_GetModuleName(type);
#else
    return PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__");
#endif
}

}  // namespace veltrane::py
