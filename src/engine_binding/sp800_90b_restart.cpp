// The SP 800-90B restart tests: the sanity check and the validation's
// assessments as nested dicts whose keys are the fields of the package's
// dataclasses.
#include <Python.h>

#include <cstdint>
#include <optional>

#include "engine_binding/assessment_dicts.hpp"
#include "engine_binding/call.hpp"
#include "engine_binding/functions.hpp"
#include "engine_binding/iid_dicts.hpp"
#include "engine_binding/input.hpp"
#include "engine_binding/progress_words.hpp"
#include "engine_binding/result_dict.hpp"
#include "engine_binding/without_gil.hpp"
#include "sp800_90b_restart/restart.hpp"

namespace veltrane::engine {

namespace {

using py::PyRef;
namespace restart = sp800_90b::restart;

PyRef dataset_dict(const restart::DatasetAssessment& d) {
    return Dict()
        .sub("non_iid", optional_dict(d.non_iid, assessment_dict))
        .sub("most_common_value", optional_dict(d.most_common_value, mcv_dict))
        .sub("permutation", optional_dict(d.permutation, permutation_dict))
        .real("min_entropy", d.min_entropy)
        .done();
}

PyRef restart_dict(const restart::RestartTest& t) {
    const restart::SanityCheck& s = t.sanity;
    return Dict()
        .count("samples", t.samples)
        .count("width", t.width)
        .count("distinct", t.distinct)
        .real("h_initial", t.h_initial)
        .flag("iid", t.iid)
        .sub("sanity", Dict()
                           .real("alpha", s.alpha)
                           .count("x_cutoff", s.x_cutoff)
                           .count("x_rows", s.x_rows)
                           .count("x_columns", s.x_columns)
                           .count("x_max", s.x_max)
                           .flag("passed", s.passed)
                           .done())
        .sub("rows", optional_dict(t.rows, dataset_dict))
        .sub("columns", optional_dict(t.columns, dataset_dict))
        .flag("validation_passed", t.validation_passed)
        .real("min_entropy", t.min_entropy)
        .flag("passed", t.passed())
        .done();
}

// sp800_90b_restart(data, h_initial, bits_per_symbol, iid, seed, progress=None) -> dict
PyObject* sp800_90b_restart(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    return guarded([&] {
        static const char* names[] = {"data", "h_initial", "bits_per_symbol", "iid", "seed", "progress", nullptr};
        PyObject *data = nullptr, *width_arg = nullptr, *seed_arg = nullptr, *progress_arg = Py_None;
        double h_initial = 0;
        int iid = 0;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OdOpO|O:sp800_90b_restart", const_cast<char**>(names), &data,
                                         &h_initial, &width_arg, &iid, &seed_arg, &progress_arg)) {
            py::throw_python_error();
        }
        const std::optional<unsigned> width = width_argument(width_arg);
        // Without the IID track nothing is shuffled, and no seed is needed.
        const sp800_90b::iid::Seed seed = seed_arg == Py_None ? sp800_90b::iid::Seed{} : seed_argument(seed_arg);
        InputBytes input(data);
        if (input.may_change()) input.make_private();
        ProgressWords words(progress_arg);
        if (iid && words.total() != nullptr) *words.total() = sp800_90b::iid::MAX_ROUNDS;
        restart::RestartTest t;
        {
            WithoutGil unlocked;
            t = restart::restart_test(input.bytes().data(), input.bytes().size(), h_initial, width, iid != 0, seed,
                                      {words.finished(), words.total()});
        }
        return restart_dict(t);
    });
}

}  // namespace

PyMethodDef SP800_90B_RESTART_FUNCTIONS[] = {
    {"sp800_90b_restart", as_method(&sp800_90b_restart), METH_VARARGS | METH_KEYWORDS,
     "sp800_90b_restart(data, h_initial, bits_per_symbol, iid, seed, progress=None)\n--\n\n"
     "The SP 800-90B restart tests of 1000 restarts of 1000 one-byte samples, as nested dicts."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace veltrane::engine
