#include "module_def.hpp"

#include <exception>

#include "errors.hpp"
#include "pool/pool.hpp"
#include "pyref.hpp"
#include "messages.hpp"

namespace veltrane::py {

const AbiInfo ABI_INFO = ABI_RECORD;

namespace {

OnceObject SIMPLE_NAMESPACE;

PyObject* simple_namespace() {
    return SIMPLE_NAMESPACE.get_or_init([] {
        PyRef name = PyRef::steal(check(PyUnicode_FromString("types")));
        PyRef types = PyRef::steal(check(PyImport_Import(name.get())));
        return PyRef::steal(check(PyObject_GetAttrString(types.get(), "SimpleNamespace")));
    });
}

// The module's __all__ list, created empty when the module has none.
PyRef all_list(PyObject* module) {
    PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_python_error();
        PyErr_Clear();
        all = PyRef::steal(check(PyList_New(0)));
        if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) throw_python_error();
    }
    if (!PyList_Check(all.get())) raise_cast_error(all.get(), reinterpret_cast<PyObject*>(&PyList_Type));
    return all;
}

// Lists the member in __all__ and sets it as an attribute.
void add_member(PyObject* module, PyObject* name, PyObject* value) {
    PyRef all = all_list(module);
    if (PyList_Append(all.get(), name) < 0) throw_python_error();
    if (PyObject_SetAttr(module, name, value) < 0) throw_python_error();
}

void check_is_module(PyObject* obj) {
    if (!PyModule_Check(obj)) raise_cast_error(obj, reinterpret_cast<PyObject*>(&PyModule_Type));
}

// A submodule belongs to the interpreter that first attached it.
void claim_interpreter(ModuleDef& def) {
    std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (current == -1) throw_python_error();
    std::int64_t expected = -1;
    if (!def.interpreter_id.compare_exchange_strong(expected, current) && expected != current) {
        PyErr_SetString(PyExc_ImportError,
                        "veltrane modules do not yet support subinterpreters, see "
                        "https://github.com/veltrane/veltrane/issues/1");
        throw_python_error();
    }
}

PyRef make_module(ModuleDef& def, PyObject* module_spec) {
#if VELTRANE_HAS_SLOT_EXPORT
    PyRef module = PyRef::steal(check(PyModule_FromSlotsAndSpec(def.slots, module_spec)));
#else
    PyRef module = PyRef::steal(check(PyModule_FromDefAndSpec(&def.module_def, module_spec)));
#endif
    check_is_module(module.get());
#if VELTRANE_HAS_SLOT_EXPORT
    if (PyModule_Exec(module.get()) < 0) throw_python_error();
#else
    if (PyModule_ExecDef(module.get(), &def.module_def) < 0) throw_python_error();
#endif
    return module;
}

}  // namespace

int module_exec(PyObject* module, PopulateFn populate) noexcept {
    if (module == nullptr) return -1;
    pool::prepare_thread();
    try {
        check_is_module(module);
        populate(module);
        return 0;
    } catch (...) {
        set_error_from_current_exception();
        return -1;
    }
}

void add_function(PyObject* module, PyMethodDef* method) {
    PyRef module_name = PyRef::steal(check(PyModule_GetNameObject(module)));
    PyRef function = PyRef::steal(check(PyCMethod_New(method, module, module_name.get(), nullptr)));
    PyRef name = PyRef::steal(check(PyObject_GetAttrString(function.get(), "__name__")));
    if (!PyUnicode_Check(name.get())) raise_cast_error(name.get(), reinterpret_cast<PyObject*>(&PyUnicode_Type));
    add_member(module, name.get(), function.get());
}

void add_submodule(PyObject* module, ModuleDef& sub) {
    claim_interpreter(sub);
    PyObject* namespace_class = simple_namespace();
    PyRef kwargs = PyRef::steal(check(PyDict_New()));
    PyRef sub_name = PyRef::steal(check(PyUnicode_FromString(sub.name)));
    if (PyDict_SetItemString(kwargs.get(), "name", sub_name.get()) < 0) throw_python_error();
    PyRef no_args = PyRef::steal(check(PyTuple_New(0)));
    PyRef module_spec = PyRef::steal(check(PyObject_Call(namespace_class, no_args.get(), kwargs.get())));

    PyObject* submodule = sub.cached_module.get_or_init([&] { return make_module(sub, module_spec.get()); });

    // The namespace a submodule is made from carries its bare name ("shannon_entropy"), which is also
    // its attribute name in the parent.
    PyRef name = PyRef::steal(check(PyModule_GetNameObject(submodule)));
    add_member(module, name.get(), submodule);
}

}  // namespace veltrane::py
