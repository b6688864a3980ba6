// `veltrane._engine`: the package's own native engine.
//
// It shares the cores with `_veltrane` but has the package's conventions: any
// buffer is read as its raw bytes (input.hpp), the interpreter lock is released
// while a call computes (without_gil.hpp), and the Python layer of the package
// gives the functions their signatures, types and documentation.
#include <Python.h>

#include "engine_binding/figures.hpp"
#include "engine_binding/functions.hpp"
#include "pool/pool.hpp"

namespace veltrane::engine {

namespace {

int exec_engine(PyObject* module) {
    veltrane::pool::prepare_thread();
    if (init_state(module) < 0) return -1;
    for (PyMethodDef* table : {BATTERY_FUNCTIONS, REPEATS_FUNCTIONS, SP800_90B_FUNCTIONS, SP800_90B_IID_FUNCTIONS,
                               SP800_90B_RESTART_FUNCTIONS, CORPUS_FUNCTIONS, SP800_22_FUNCTIONS,
                               CLUSTER_DEDUP_FUNCTIONS, CLUSTER_PARTITION_FUNCTIONS}) {
        if (PyModule_AddFunctions(module, table) < 0) return -1;
    }
    if (add_gzip_survey_type(module) < 0 || add_gzip_reader_type(module) < 0) return -1;
    return 0;
}

PyModuleDef_Slot ENGINE_SLOTS[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_engine)},
    {0, nullptr},
};

PyModuleDef ENGINE_MODULE = {
    PyModuleDef_HEAD_INIT,
    "veltrane._engine",
    "The native engine of the veltrane package (use the package's functions instead).",
    sizeof(EngineState),
    nullptr,
    ENGINE_SLOTS,
    &traverse_state,
    &clear_state,
    [](void* module) { clear_state(static_cast<PyObject*>(module)); },
};

}  // namespace

}  // namespace veltrane::engine

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__engine() {
    return PyModuleDef_Init(&veltrane::engine::ENGINE_MODULE);
}
