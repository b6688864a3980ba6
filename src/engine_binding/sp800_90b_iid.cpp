// The SP 800-90B IID track: every figure as nested dicts (iid_dicts.hpp).
#include <Python.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>

#include "engine_binding/call.hpp"
#include "engine_binding/functions.hpp"
#include "engine_binding/iid_dicts.hpp"
#include "engine_binding/input.hpp"
#include "engine_binding/progress_words.hpp"
#include "engine_binding/result_dict.hpp"
#include "engine_binding/without_gil.hpp"
#include "sp800_90b_iid/iid.hpp"

namespace veltrane::engine {

namespace {

namespace iid = sp800_90b::iid;

// sp800_90b_iid(data, bits_per_symbol, seed, conditioned, progress=None, max_rounds=10000) -> dict
PyObject* sp800_90b_iid(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    return guarded([&] {
        static const char* names[] = {"data", "bits_per_symbol", "seed", "conditioned", "progress", "max_rounds",
                                      nullptr};
        PyObject *data = nullptr, *width_arg = nullptr, *seed_arg = nullptr, *progress_arg = Py_None;
        int conditioned = 0;
        unsigned long long max_rounds = iid::MAX_ROUNDS;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOp|OK:sp800_90b_iid", const_cast<char**>(names), &data,
                                         &width_arg, &seed_arg, &conditioned, &progress_arg, &max_rounds)) {
            py::throw_python_error();
        }
        const std::optional<unsigned> width = width_argument(width_arg);
        const iid::Seed seed = seed_argument(seed_arg);
        InputBytes input(data);
        // Every round reads the samples: they must not change meanwhile.
        if (input.may_change()) input.make_private();
        ProgressWords words(progress_arg);
        if (words.total() != nullptr) *words.total() = max_rounds;
        iid::IidAssessment a;
        {
            WithoutGil unlocked;
            a = iid::assess_iid(input.bytes().data(), input.bytes().size(), width, seed, conditioned != 0,
                                words.finished(), max_rounds);
        }
        return iid_dict(a);
    });
}

}  // namespace

PyMethodDef SP800_90B_IID_FUNCTIONS[] = {
    {"sp800_90b_iid", as_method(&sp800_90b_iid), METH_VARARGS | METH_KEYWORDS,
     "sp800_90b_iid(data, bits_per_symbol, seed, conditioned, progress=None, max_rounds=10000)\n--\n\n"
     "The SP 800-90B IID track of one-sample-per-byte data, as nested dicts."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace veltrane::engine
