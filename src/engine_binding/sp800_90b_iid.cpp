// The SP 800-90B IID track: every figure as nested dicts whose keys are the
// fields of the package's dataclasses. Long double figures come as pairs of
// doubles (high, low) whose sum is exact, so the package can print the digits
// NIST's tool prints.
#include <Python.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>

#include "engine_binding/assessment_dicts.hpp"
#include "engine_binding/call.hpp"
#include "engine_binding/functions.hpp"
#include "engine_binding/input.hpp"
#include "engine_binding/progress_words.hpp"
#include "engine_binding/result_dict.hpp"
#include "engine_binding/without_gil.hpp"
#include "sp800_90b_iid/iid.hpp"

namespace veltrane::engine {

namespace {

using py::PyRef;
namespace iid = sp800_90b::iid;

PyRef long_double(long double x) {
    const double high = static_cast<double>(x);
    const double low = std::isfinite(high) ? static_cast<double>(x - static_cast<long double>(high)) : 0.0;
    return PyRef::steal(py::check(Py_BuildValue("(dd)", high, low)));
}

PyRef chi_square_dict(const iid::ChiSquare& c) {
    Dict d;
    d.real("statistic", c.statistic).integer("df", c.df);
    d.real("p_value", std::isnan(c.p_value) ? std::nullopt : std::optional<double>(c.p_value));
    return d.flag("passed", c.passed).done();
}

PyRef permutation_dict(const iid::PermutationTest& p) {
    PyRef list = PyRef::steal(py::check(PyList_New(iid::STATISTICS)));
    for (unsigned s = 0; s < iid::STATISTICS; ++s) {
        const auto& c = p.counters[s];
        PyRef one = Dict()
                        .set("name", PyUnicode_FromString(iid::STATISTIC_NAMES[s]))
                        .real("original", p.original[s])
                        .count("c0", c[0])
                        .count("c1", c[1])
                        .count("c2", c[2])
                        .flag("passed", !(p.failed & iid::bit(s)))
                        .done();
        PyList_SET_ITEM(list.get(), s, one.release());
    }
    return Dict().sub("statistics", std::move(list)).count("rounds", p.rounds).flag("passed", p.passed()).done();
}

PyRef iid_dict(const iid::IidAssessment& a) {
    return Dict()
        .count("samples", a.samples)
        .count("width", a.width)
        .count("distinct", a.distinct)
        .real("mean", a.mean)
        .real("median", a.median)
        .sub("literal", mcv_dict(a.literal))
        .sub("bitstring", optional_dict(a.bitstring, mcv_dict))
        .flag("conditioned", a.conditioned)
        .real("initial_entropy", a.initial_entropy)
        .sub("chi_square", Dict()
                               .sub("independence", chi_square_dict(a.chi_square.independence))
                               .sub("goodness_of_fit", chi_square_dict(a.chi_square.goodness_of_fit))
                               .flag("passed", a.chi_square.passed())
                               .done())
        .sub("lrs", Dict()
                        .count("w", a.lrs.w)
                        .sub("p_col", long_double(a.lrs.p_col))
                        .sub("probability", long_double(a.lrs.probability))
                        .flag("passed", a.lrs.passed)
                        .done())
        .sub("permutation", permutation_dict(a.permutation))
        .flag("iid", a.iid())
        .done();
}

iid::Seed seed_argument(PyObject* obj) {
    py::BufferRef view;
    if (!view.acquire(obj, PyBUF_C_CONTIGUOUS)) py::throw_python_error();
    if (view.view().len != static_cast<Py_ssize_t>(iid::Seed{}.size())) {
        PyErr_Format(PyExc_ValueError, "seed must be 32 bytes, not %zd", view.view().len);
        py::throw_python_error();
    }
    iid::Seed seed;
    std::memcpy(seed.data(), view.view().buf, seed.size());
    return seed;
}

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
