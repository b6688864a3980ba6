// The SP 800-90B non-IID assessment: every estimator's figures as nested dicts
// whose keys are the fields of the package's dataclasses.
#include <Python.h>

#include <cstdint>
#include <optional>

#include "engine_binding/call.hpp"
#include "engine_binding/functions.hpp"
#include "engine_binding/input.hpp"
#include "engine_binding/progress_words.hpp"
#include "engine_binding/assessment_dicts.hpp"
#include "engine_binding/result_dict.hpp"
#include "engine_binding/without_gil.hpp"
#include "sp800_90b/assessment.hpp"

namespace veltrane::engine {

namespace {

using py::PyRef;
namespace sp = sp800_90b;

// sp800_90b(data, bits_per_symbol=None, progress=None) -> dict
PyObject* sp800_90b(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    return guarded([&] {
        static const char* names[] = {"data", "bits_per_symbol", "progress", nullptr};
        PyObject* data = nullptr;
        PyObject* width_arg = Py_None;
        PyObject* progress_arg = Py_None;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO:sp800_90b", const_cast<char**>(names), &data,
                                         &width_arg, &progress_arg)) {
            py::throw_python_error();
        }
        const std::optional<unsigned> width = width_argument(width_arg);
        InputBytes input(data);
        // The estimators read the samples many times over: they must not change meanwhile.
        if (input.may_change()) input.make_private();
        ProgressWords words(progress_arg);
        sp::Assessment a;
        {
            WithoutGil unlocked;
            a = sp::assess(input.bytes().data(), input.bytes().size(), width, {words.finished(), words.total()});
        }
        return assessment_dict(a);
    });
}

}  // namespace

PyMethodDef SP800_90B_FUNCTIONS[] = {
    {"sp800_90b", as_method(&sp800_90b), METH_VARARGS | METH_KEYWORDS,
     "sp800_90b(data, bits_per_symbol=None, progress=None)\n--\n\n"
     "The SP 800-90B non-IID assessment of one-sample-per-byte data, as nested dicts."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace veltrane::engine
