// Module definitions, their slot arrays and the steps that fill a module.
//
// Each of the four modules has one static definition. The slot array is what
// a 3.15 interpreter receives from PyModExport_<name>; the PyModuleDef is what
// PyInit_<name> hands to any interpreter. Both lead to the same execution
// function, so the module comes out the same whichever path loads it.
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>

#include "compat.hpp"
#include "once.hpp"

namespace veltrane::py {

// Adds the module's members in order; throws PythonError on the first failure.
using PopulateFn = void (*)(PyObject* module);

struct ModuleDef {
    const char* name;
    const char* doc;
    const Slot* slots;
    PyModuleDef module_def;
    std::atomic<std::int64_t> interpreter_id{-1};
    OnceObject cached_module;
};

// The interpreter's execution step for a module: runs `populate` on it.
int module_exec(PyObject* module, PopulateFn populate) noexcept;

// Adds a function object made from `method` (with the module as its __self__).
void add_function(PyObject* module, PyMethodDef* method);
// Creates `sub` once per process and attaches it to `module`.
void add_submodule(PyObject* module, ModuleDef& sub);

extern const AbiInfo ABI_INFO;

// Slot IDs and flags as stored in the exported arrays.
inline constexpr std::uint16_t SLOT_EXEC = 85;
inline constexpr std::uint16_t SLOT_ABI = 109;
inline constexpr std::uint16_t SLOT_GIL = 87;
inline constexpr std::uint16_t SLOT_NAME = 100;
inline constexpr std::uint16_t SLOT_DOC = 101;
inline constexpr std::uint16_t SLOT_SUBSLOTS = 92;
inline constexpr std::uint16_t SLOT_FLAG_STATIC = 2;
inline constexpr std::uint16_t SLOT_FLAG_INTPTR = 4;

}  // namespace veltrane::py

// Defines the static definition VAR of a module and its execution function.
// NAME and DOC are string literals; POPULATE is a PopulateFn.
#if VELTRANE_HAS_SLOT_EXPORT
#define VELTRANE_CLASSIC_SLOTS(VAR, EXEC) \
    static PyModuleDef_Slot VAR##_secondary_slots[] = {{veltrane::py::SLOT_SUBSLOTS, (void*)VAR##_slots}, {0, nullptr}};
#else
// Older interpreters know nothing of the exported array; they get the execution
// step (and the free-threading declaration where it exists) directly.
#if PY_VERSION_HEX >= 0x030D0000
#define VELTRANE_GIL_CLASSIC_SLOT {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#else
#define VELTRANE_GIL_CLASSIC_SLOT
#endif
#define VELTRANE_CLASSIC_SLOTS(VAR, EXEC) \
    static PyModuleDef_Slot VAR##_secondary_slots[] = {{Py_mod_exec, (void*)EXEC}, VELTRANE_GIL_CLASSIC_SLOT{0, nullptr}};
#endif

#define VELTRANE_DEFINE_MODULE(VAR, NAME, DOC, POPULATE)                                                          \
    static int VAR##_exec(PyObject* module) { return veltrane::py::module_exec(module, POPULATE); }               \
    static const veltrane::py::Slot VAR##_slots[] = {                                                             \
        {veltrane::py::SLOT_EXEC, 0, 0, {(void*)&VAR##_exec}},                                                    \
        {veltrane::py::SLOT_ABI, veltrane::py::SLOT_FLAG_STATIC, 0, {(void*)&veltrane::py::ABI_INFO}},            \
        {veltrane::py::SLOT_GIL, veltrane::py::SLOT_FLAG_INTPTR, 0, {(void*)1}},                                  \
        {veltrane::py::SLOT_NAME, veltrane::py::SLOT_FLAG_STATIC, 0, {(void*)(NAME)}},                            \
        {veltrane::py::SLOT_DOC, veltrane::py::SLOT_FLAG_STATIC, 0, {(void*)(DOC)}},                              \
        {0, 0, 0, {nullptr}},                                                                                     \
    };                                                                                                            \
    VELTRANE_CLASSIC_SLOTS(VAR, VAR##_exec)                                                                       \
    veltrane::py::ModuleDef VAR{                                                                                  \
        NAME, DOC, VAR##_slots,                                                                                   \
        PyModuleDef{PyModuleDef_HEAD_INIT, NAME, DOC, 0, nullptr, VAR##_secondary_slots, nullptr, nullptr, nullptr}, \
        {}, {}};
