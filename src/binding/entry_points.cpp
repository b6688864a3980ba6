// The shared object's only exported symbols, and its load-time initialiser.
//
// Every module can be loaded through its export hook (CPython 3.15) or its
// classic initialisation function; neither does any work beyond handing over
// the static definition.
#include <sodium.h>

#include <cstdio>
#include <cstdlib>

#include "modules.hpp"

namespace {

// libsodium must be up before any module exists; without it the process
// cannot continue safely, so a failure here ends it.
__attribute__((constructor)) void initialize() {
    if (sodium_init() < 0) {
        std::fputs("Failed to initialize libsodium: libsodium initialization failed\n", stderr);
        std::abort();
    }
}

}  // namespace

#define VELTRANE_EXPORT extern "C" __attribute__((visibility("default")))

VELTRANE_EXPORT PyObject* PyInit__veltrane() { return PyModuleDef_Init(&veltrane::py::root_module.module_def); }
VELTRANE_EXPORT PyObject* PyInit_shannon_entropy() {
    return PyModuleDef_Init(&veltrane::py::shannon_entropy_module.module_def);
}
VELTRANE_EXPORT PyObject* PyInit_min_entropy() {
    return PyModuleDef_Init(&veltrane::py::min_entropy_module.module_def);
}
VELTRANE_EXPORT PyObject* PyInit_strings_frag() {
    return PyModuleDef_Init(&veltrane::py::strings_frag_module.module_def);
}

using SlotArray = veltrane::py::Slot*;
VELTRANE_EXPORT SlotArray PyModExport__veltrane() { return const_cast<SlotArray>(veltrane::py::root_module.slots); }
VELTRANE_EXPORT SlotArray PyModExport_shannon_entropy() {
    return const_cast<SlotArray>(veltrane::py::shannon_entropy_module.slots);
}
VELTRANE_EXPORT SlotArray PyModExport_min_entropy() {
    return const_cast<SlotArray>(veltrane::py::min_entropy_module.slots);
}
VELTRANE_EXPORT SlotArray PyModExport_strings_frag() {
    return const_cast<SlotArray>(veltrane::py::strings_frag_module.slots);
}
