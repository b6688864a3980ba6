// The non-IID assessment's figures as nested dicts whose keys are the fields
// of the package's dataclasses.
#include "engine_binding/assessment_dicts.hpp"

#include "engine_binding/result_dict.hpp"

namespace veltrane::engine {

using py::PyRef;
namespace sp = sp800_90b;

PyRef mcv_dict(const sp::MostCommonValue& r) {
    return Dict().count("mode_count", r.mode_count).real("p_hat", r.p_hat).real("p_u", r.p_u)
        .real("min_entropy", r.min_entropy).done();
}

namespace {

PyRef collision_dict(const sp::Collision& r) {
    return Dict().count("v", r.v).count("sum_t", r.sum_t).real("x_bar", r.x_bar).real("sigma_hat", r.sigma_hat)
        .real("x_bar_prime", r.x_bar_prime).flag("found_p", r.found_p).real("p", r.p)
        .real("min_entropy", r.min_entropy).done();
}
PyRef markov_dict(const sp::Markov& r) {
    return Dict().real("p_0", r.p_0).real("p_1", r.p_1).real("p_00", r.p_00).real("p_01", r.p_01)
        .real("p_10", r.p_10).real("p_11", r.p_11).real("p_hat_max", r.p_hat_max)
        .real("min_entropy", r.min_entropy).done();
}
PyRef compression_dict(const sp::Compression& r) {
    return Dict().real("x_bar", r.x_bar).real("sigma_hat", r.sigma_hat).real("x_bar_prime", r.x_bar_prime)
        .flag("found_p", r.found_p).real("p", r.p).real("min_entropy", r.min_entropy).done();
}
PyRef t_tuple_dict(const sp::TTuple& r) {
    return Dict().count("t", r.t).real("p_hat_max", r.p_hat_max).real("p_u", r.p_u)
        .real("min_entropy", r.min_entropy).done();
}
PyRef lrs_dict(const sp::LongestRepeatedSubstring& r) {
    return Dict().count("u", r.u).count("v", r.v).real("p_hat", r.p_hat).real("p_u", r.p_u)
        .real("min_entropy", r.min_entropy).done();
}
PyRef prediction_dict(const sp::Prediction& r) {
    Dict d;
    d.count("c", r.c).count("r", r.r).count("n", r.n).real("p_global", r.p_global)
        .real("p_global_prime", r.p_global_prime);
    if (r.p_local_used) {
        d.real("p_local", r.p_local);
    } else {
        d.set("p_local", Py_NewRef(Py_None));
    }
    return d.real("min_entropy", r.min_entropy).done();
}

PyRef track_dict(const sp::Track& t) {
    return Dict()
        .sub("most_common_value", mcv_dict(t.most_common_value))
        .sub("collision", optional_dict(t.collision, collision_dict))
        .sub("markov", optional_dict(t.markov, markov_dict))
        .sub("compression", optional_dict(t.compression, compression_dict))
        .sub("t_tuple", optional_dict(t.tuples.t_tuple, t_tuple_dict))
        .sub("lrs", optional_dict(t.tuples.lrs, lrs_dict))
        .sub("multi_mcw", prediction_dict(t.multi_mcw))
        .sub("lag", prediction_dict(t.lag))
        .sub("multi_mmc", prediction_dict(t.multi_mmc))
        .sub("lz78y", prediction_dict(t.lz78y))
        .real("min_entropy", t.min_entropy)
        .done();
}

}  // namespace

PyRef assessment_dict(const sp::Assessment& a) {
    Dict d;
    d.count("samples", a.samples).count("width", a.width).count("distinct", a.distinct)
        .flag("translated", a.translated)
        .sub("literal", track_dict(a.literal))
        .sub("bitstring", a.bitstring ? track_dict(*a.bitstring) : none())
        .real("h_original", a.h_original)
        .real("h_bitstring", a.h_bitstring);
    return d.real("min_entropy", a.min_entropy).done();
}

}  // namespace veltrane::engine
