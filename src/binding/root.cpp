// The root module `_veltrane`: its submodules and the three small functions.
#include <cstdint>

#include "frame.hpp"
#include "modules.hpp"

namespace veltrane::py {

namespace {

inline constexpr Parameters<std::uint64_t> PING{"ping", {"x"}};

PyRef ping(std::uint64_t x) {
    // Unsigned arithmetic: the product wraps modulo 2**64 instead of overflowing.
    return PyRef::steal(check(PyLong_FromUnsignedLongLong(x * 2)));
}

// The package version, handed over by the build from pyproject.toml.
PyRef version() { return PyRef::steal(check(PyUnicode_FromString(VELTRANE_VERSION))); }

PyRef profile() { return PyRef::steal(check(PyUnicode_FromString("release"))); }

PyMethodDef ping_def = {"ping", as_method(&fastcall<PING, ping>), METH_FASTCALL | METH_KEYWORDS,
                        "ping(x)\n--\n\ntest function\n\nreturn x * 2"};
PyMethodDef version_def = {"version", as_method(&noargs<version>), METH_NOARGS,
                           "version()\n--\n\npackage version"};
PyMethodDef profile_def = {"profile", as_method(&noargs<profile>), METH_NOARGS,
                           "profile()\n--\n\n获取本模块的构建模式\n\n返回值: `\"debug\" | \"release\"`"};

void populate_root(PyObject* module) {
    add_submodule(module, shannon_entropy_module);
    add_submodule(module, min_entropy_module);
    add_submodule(module, strings_frag_module);
    add_function(module, &ping_def);
    add_function(module, &version_def);
    add_function(module, &profile_def);
}

}  // namespace

VELTRANE_DEFINE_MODULE(root_module, "_veltrane", "`veltrane` root module", populate_root)

}  // namespace veltrane::py
