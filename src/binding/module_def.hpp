// Module definitions, their slot arrays and the steps that fill a module.
//
// Each of the four modules has one static definition. The slot array is what
// a 3.15 interpreter receives from PyModExport_<name>; the PyModuleDef is what
// PyInit_<name> hands to any interpreter. Both lead to the same execution
// function, so the module comes out the same whichever path loads it.
#pragma once

#include <Python.h>

#include <atomic>
#include <cstddef>
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

// Slot IDs and flags as stored in the exported arrays. A 3.15 build takes them
// from the interpreter's headers and checks them against the stored numbers, so
// a change of the headers cannot slip into the exported records unnoticed;
// older interpreters have no such names, and get the same numbers written out.
#if VELTRANE_HAS_SLOT_EXPORT
inline constexpr std::uint16_t SLOT_EXEC = Py_mod_exec;
inline constexpr std::uint16_t SLOT_ABI = Py_mod_abi;
inline constexpr std::uint16_t SLOT_GIL = Py_mod_gil;
inline constexpr std::uint16_t SLOT_NAME = Py_mod_name;
inline constexpr std::uint16_t SLOT_DOC = Py_mod_doc;
inline constexpr std::uint16_t SLOT_SUBSLOTS = Py_slot_subslots;
inline constexpr std::uint16_t SLOT_FLAG_STATIC = PySlot_STATIC;
inline constexpr std::uint16_t SLOT_FLAG_INTPTR = PySlot_INTPTR;
inline constexpr std::uint16_t ABI_FLAG_GIL = PyABIInfo_GIL;
#else
inline constexpr std::uint16_t SLOT_EXEC = 85;
inline constexpr std::uint16_t SLOT_ABI = 109;
inline constexpr std::uint16_t SLOT_GIL = 87;
inline constexpr std::uint16_t SLOT_NAME = 100;
inline constexpr std::uint16_t SLOT_DOC = 101;
inline constexpr std::uint16_t SLOT_SUBSLOTS = 92;
inline constexpr std::uint16_t SLOT_FLAG_STATIC = 2;
inline constexpr std::uint16_t SLOT_FLAG_INTPTR = 4;
inline constexpr std::uint16_t ABI_FLAG_GIL = 2;
#endif
static_assert(SLOT_EXEC == 85 && SLOT_ABI == 109 && SLOT_GIL == 87 && SLOT_NAME == 100 && SLOT_DOC == 101 &&
                  SLOT_SUBSLOTS == 92,
              "slot IDs of the exported arrays");
static_assert(SLOT_FLAG_STATIC == 2 && SLOT_FLAG_INTPTR == 4, "slot flags of the exported arrays");

// The ABI record: version 1.0, the GIL build flag, no build or ABI version stored;
// byte for byte 01 00 02 00, then eight zero bytes.
inline constexpr AbiInfo ABI_RECORD = {1, 0, ABI_FLAG_GIL, 0, 0};
static_assert(ABI_RECORD.abiinfo_major_version == 1 && ABI_RECORD.abiinfo_minor_version == 0 &&
                  ABI_RECORD.flags == 2 && ABI_RECORD.build_version == 0 && ABI_RECORD.abi_version == 0,
              "the ABI record's values");
static_assert(offsetof(AbiInfo, abiinfo_minor_version) == 1 && offsetof(AbiInfo, flags) == 2 &&
                  offsetof(AbiInfo, build_version) == 4 && offsetof(AbiInfo, abi_version) == 8,
              "the ABI record's layout");

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
