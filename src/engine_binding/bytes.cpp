// The histogram of the bytes: the engine's first and simplest function.
#include <Python.h>

#include <cstring>

#include "engine_binding/call.hpp"
#include "engine_binding/functions.hpp"
#include "engine_binding/input.hpp"
#include "engine_binding/without_gil.hpp"
#include "util/count_bytes.hpp"

namespace veltrane::engine {

namespace {

// histogram(data) -> bytes: 256 native unsigned 64-bit counts, indexed by byte value.
PyObject* histogram(PyObject* /*module*/, PyObject* data) noexcept {
    return guarded([&] {
        InputBytes input(data);
        util::ByteHistogram counts;
        {
            WithoutGil unlocked;
            counts = util::count_bytes(input.bytes().data(), input.bytes().size());
        }
        return py::PyRef::steal(py::check(
            PyBytes_FromStringAndSize(reinterpret_cast<const char*>(counts.data()), sizeof counts)));
    });
}

}  // namespace

PyMethodDef BYTES_FUNCTIONS[] = {
    {"histogram", as_method(&histogram), METH_O, "histogram(data, /)\n--\n\nThe 256 byte counts of data."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace veltrane::engine
