#include "engine_binding/sp800_22_dicts.hpp"

#include <cstdio>
#include <string>

#include "engine_binding/result_dict.hpp"

namespace veltrane::engine {

using py::PyRef;
namespace s22 = sp800_22;

namespace {

template <class Container, class Make>
PyRef tuple_of(const Container& values, std::size_t count, Make make) {
    PyRef t = PyRef::steal(py::check(PyTuple_New(static_cast<Py_ssize_t>(count))));
    for (std::size_t i = 0; i < count; ++i) PyTuple_SET_ITEM(t.get(), static_cast<Py_ssize_t>(i), py::check(make(values[i])));
    return t;
}
template <class Container>
PyRef counts(const Container& values, std::size_t count) {
    return tuple_of(values, count, [](auto v) { return PyLong_FromUnsignedLongLong(v); });
}
template <class Container>
PyRef reals(const Container& values, std::size_t count) {
    return tuple_of(values, count, [](double v) { return PyFloat_FromDouble(v); });
}
PyRef text(const std::string& s) { return PyRef::steal(py::check(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())))); }
PyRef texts(const std::vector<std::string>& list) {
    return tuple_of(list, list.size(), [](const std::string& s) { return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())); });
}

// The fields of Parameters, once: the dict's keys in both directions.
template <class Visit>
void each_parameter(s22::Parameters& p, Visit visit) {
    visit("block_frequency_block_length", p.block_frequency_block_length);
    visit("longest_run_block_length", p.longest_run_block_length);
    visit("non_overlapping_template_length", p.non_overlapping_template_length);
    visit("non_overlapping_blocks", p.non_overlapping_blocks);
    visit("overlapping_template_length", p.overlapping_template_length);
    visit("overlapping_block_length", p.overlapping_block_length);
    visit("universal_block_length", p.universal_block_length);
    visit("universal_initial_blocks", p.universal_initial_blocks);
    visit("linear_complexity_block_length", p.linear_complexity_block_length);
    visit("serial_block_length", p.serial_block_length);
    visit("approximate_entropy_block_length", p.approximate_entropy_block_length);
}

PyRef frequency(const s22::FrequencyFigures& f) {
    return Dict().integer("sum", f.sum).real("ratio", f.ratio).real("p_value", f.p_value).done();
}
PyRef block_frequency(const s22::BlockFrequencyFigures& f) {
    return Dict().real("chi_square", f.chi_square).count("blocks", f.blocks).count("block_length", f.block_length)
        .count("discarded", f.discarded).real("p_value", f.p_value).done();
}
PyRef cumulative_sums(const s22::CumulativeSumsFigures& f) {
    return Dict().integer("forward_max", f.forward_max).integer("backward_max", f.backward_max)
        .real("p_forward", f.p_forward).real("p_backward", f.p_backward).done();
}
PyRef runs(const s22::RunsFigures& f) {
    Dict d;
    d.real("pi", f.pi).flag("prerequisite", f.prerequisite);
    if (f.prerequisite) {
        d.count("runs", f.runs).real("statistic", f.statistic);
    } else {
        d.set("runs", Py_NewRef(Py_None)).set("statistic", Py_NewRef(Py_None));
    }
    return d.real("p_value", f.p_value).done();
}
PyRef longest_run(const s22::LongestRunFigures& f) {
    return Dict().count("blocks", f.blocks).count("block_length", f.block_length).count("first", f.first)
        .sub("counts", counts(f.counts, f.classes)).sub("probabilities", reals(f.probabilities, f.classes))
        .real("chi_square", f.chi_square).real("p_value", f.p_value).done();
}
PyRef rank(const s22::RankFigures& f) {
    return Dict().sub("probabilities", reals(f.probabilities, 3)).sub("counts", counts(f.counts, 3))
        .count("matrices", f.matrices).count("discarded", f.discarded).real("chi_square", f.chi_square)
        .real("p_value", f.p_value).done();
}
PyRef dft(const s22::DftFigures& f) {
    return Dict().count("below", f.below).real("expected", f.expected).real("percentile", f.percentile)
        .real("d", f.d).real("p_value", f.p_value).done();
}
PyRef non_overlapping(const s22::NonOverlappingFigures& f) {
    PyRef list = PyRef::steal(py::check(PyTuple_New(static_cast<Py_ssize_t>(f.templates.size()))));
    std::string bits(f.template_length, '0');
    for (std::size_t t = 0; t < f.templates.size(); ++t) {
        for (unsigned j = 0; j < f.template_length; ++j) bits[j] = '0' + ((f.templates[t] >> (f.template_length - 1 - j)) & 1);
        PyRef one = Dict().sub("template", text(bits)).sub("counts", counts(f.counts.data() + t * f.blocks, f.blocks))
                        .real("chi_square", f.chi_squares[t]).real("p_value", f.p_values[t]).done();
        PyTuple_SET_ITEM(list.get(), static_cast<Py_ssize_t>(t), one.release());
    }
    return Dict().count("template_length", f.template_length).count("blocks", f.blocks)
        .count("block_length", f.block_length).real("mean", f.mean).real("variance", f.variance)
        .sub("templates", std::move(list)).done();
}
PyRef overlapping(const s22::OverlappingFigures& f) {
    return Dict().count("template_length", f.template_length).count("block_length", f.block_length)
        .count("blocks", f.blocks).real("lambda_", f.lambda).real("eta", f.eta).sub("counts", counts(f.counts, 6))
        .sub("probabilities", reals(f.probabilities, 6)).real("chi_square", f.chi_square).real("p_value", f.p_value)
        .done();
}
PyRef universal(const s22::UniversalFigures& f) {
    return Dict().flag("applicable", f.applicable).count("block_length", f.block_length)
        .count("initial_blocks", f.initial_blocks).count("test_blocks", f.test_blocks).real("sum", f.sum)
        .real("sigma", f.sigma).real("variance", f.variance).real("expected", f.expected).real("phi", f.phi)
        .count("discarded", f.discarded).real("p_value", f.p_value).done();
}
PyRef approximate_entropy(const s22::ApproximateEntropyFigures& f) {
    return Dict().count("block_length", f.block_length).real("chi_square", f.chi_square).real("phi_m", f.phi_m)
        .real("phi_m1", f.phi_m1).real("apen", f.apen).real("p_value", f.p_value).done();
}
PyRef optional_real(bool present, double v) { return present ? PyRef::steal(py::check(PyFloat_FromDouble(v))) : none(); }
PyRef random_excursions(const s22::RandomExcursionsFigures& f) {
    PyRef states = PyRef::steal(py::check(PyTuple_New(s22::EXCURSION_STATES)));
    for (unsigned i = 0; i < s22::EXCURSION_STATES; ++i) {
        PyRef one = Dict().integer("state", s22::excursion_state(i)).sub("counts", counts(f.counts[i], 6))
                        .sub("chi_square", optional_real(f.applicable, f.chi_squares[i]))
                        .sub("p_value", optional_real(f.applicable, f.p_values[i])).done();
        PyTuple_SET_ITEM(states.get(), i, one.release());
    }
    return Dict().count("cycles", f.cycles).real("constraint", f.constraint).flag("applicable", f.applicable)
        .sub("states", std::move(states)).done();
}
PyRef random_excursions_variant(const s22::RandomExcursionsVariantFigures& f) {
    PyRef states = PyRef::steal(py::check(PyTuple_New(s22::VARIANT_STATES)));
    for (unsigned i = 0; i < s22::VARIANT_STATES; ++i) {
        PyRef one = Dict().integer("state", s22::variant_state(i)).count("visits", f.visits[i])
                        .sub("p_value", optional_real(f.applicable, f.p_values[i])).done();
        PyTuple_SET_ITEM(states.get(), i, one.release());
    }
    return Dict().count("cycles", f.cycles).flag("applicable", f.applicable).sub("states", std::move(states)).done();
}
PyRef serial(const s22::SerialFigures& f) {
    return Dict().count("block_length", f.block_length).real("psi_m", f.psi_m).real("psi_m1", f.psi_m1)
        .real("psi_m2", f.psi_m2).real("del1", f.del1).real("del2", f.del2).real("p_value1", f.p_value1)
        .real("p_value2", f.p_value2).done();
}
PyRef linear_complexity(const s22::LinearComplexityFigures& f) {
    return Dict().count("block_length", f.block_length).count("blocks", f.blocks).count("discarded", f.discarded)
        .sub("counts", counts(f.counts, 7)).sub("probabilities", reals(f.probabilities, 7))
        .real("chi_square", f.chi_square).real("p_value", f.p_value).done();
}

template <class T, class F>
void put(Dict& d, const char* key, const std::optional<T>& value, F convert) {
    if (value) d.sub(key, convert(*value));
}

}  // namespace

s22::Parameters parameters_argument(PyObject* dict) {
    s22::Parameters p;
    if (dict == Py_None) return p;
    if (!PyDict_Check(dict)) {
        PyErr_SetString(PyExc_TypeError, "parameters must be a dict");
        py::throw_python_error();
    }
    each_parameter(p, [&](const char* name, auto& field) {
        PyObject* value = PyDict_GetItemString(dict, name);  // borrowed
        if (value == nullptr) return;
        const unsigned long long v = PyLong_AsUnsignedLongLong(value);
        if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) py::throw_python_error();
        using Field = std::remove_reference_t<decltype(field)>;
        if (v > static_cast<unsigned long long>(static_cast<Field>(-1))) {
            PyErr_Format(PyExc_ValueError, "%s is too large: %llu", name, v);
            py::throw_python_error();
        }
        field = static_cast<Field>(v);
    });
    return p;
}

PyRef plan_dict(const s22::Plan& plan) {
    s22::Parameters p = plan.settings.parameters;
    Dict parameters;
    each_parameter(p, [&](const char* name, auto& field) { parameters.count(name, field); });
    return Dict().count("length", plan.length).count("tests", plan.tests).sub("parameters", parameters.done())
        .sub("notes", texts(plan.notes)).sub("differences", texts(plan.differences)).done();
}

PyRef sequence_dict(const s22::SequenceFigures& s) {
    Dict d;
    d.count("ones", s.ones);
    put(d, "frequency", s.frequency, frequency);
    put(d, "block_frequency", s.block_frequency, block_frequency);
    put(d, "cumulative_sums", s.cumulative_sums, cumulative_sums);
    put(d, "runs", s.runs, runs);
    put(d, "longest_run", s.longest_run, longest_run);
    put(d, "rank", s.rank, rank);
    put(d, "dft", s.dft, dft);
    put(d, "non_overlapping_template", s.non_overlapping_template, non_overlapping);
    put(d, "overlapping_template", s.overlapping_template, overlapping);
    put(d, "universal", s.universal, universal);
    put(d, "approximate_entropy", s.approximate_entropy, approximate_entropy);
    put(d, "random_excursions", s.random_excursions, random_excursions);
    put(d, "random_excursions_variant", s.random_excursions_variant, random_excursions_variant);
    put(d, "serial", s.serial, serial);
    put(d, "linear_complexity", s.linear_complexity, linear_complexity);
    return d.done();
}

PyRef summary_dict(const s22::SeriesSummary& s) {
    Dict d;
    d.count("sequences", s.sequences).sub("bins", counts(s.bins, 10)).count("passed", s.passed);
    if (s.sequences > 0) {
        d.real("low", s.low).real("high", s.high).count("least", s.least).count("most", s.most);
    } else {
        for (const char* key : {"low", "high", "least", "most"}) d.set(key, Py_NewRef(Py_None));
    }
    return d.flag("proportion_passed", s.proportion_passed).real("uniformity", s.uniformity)
        .flag("uniformity_passed", s.uniformity_passed).done();
}

}  // namespace veltrane::engine
