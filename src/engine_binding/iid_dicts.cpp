#include "engine_binding/iid_dicts.hpp"

#include <cmath>
#include <cstring>
#include <optional>

#include "engine_binding/assessment_dicts.hpp"
#include "engine_binding/result_dict.hpp"

namespace veltrane::engine {

using py::PyRef;
namespace iid = sp800_90b::iid;

namespace {

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

}  // namespace

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

}  // namespace veltrane::engine
