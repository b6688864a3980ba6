// The four module definitions, each defined beside the functions it carries.
#pragma once

#include "module_def.hpp"

namespace veltrane::py {

extern ModuleDef root_module;             // _veltrane (root.cpp)
extern ModuleDef shannon_entropy_module;  // py_shannon_entropy_algo.cpp
extern ModuleDef min_entropy_module;      // py_min_entropy_algo.cpp
extern ModuleDef strings_frag_module;     // pystrings_frag.cpp

}  // namespace veltrane::py
