// The SP 800-90B non-IID assessment: every estimator's figures as nested dicts
// whose keys are the fields of the package's dataclasses.
#include <Python.h>

#include <cstdint>
#include <optional>

#include "engine_binding/call.hpp"
#include "engine_binding/functions.hpp"
#include "engine_binding/input.hpp"
#include "engine_binding/without_gil.hpp"
#include "sp800_90b/assessment.hpp"

namespace veltrane::engine {

namespace {

using py::check;
using py::PyRef;
namespace sp = sp800_90b;

class Dict {
public:
    Dict() : dict_(PyRef::steal(check(PyDict_New()))) {}
    Dict& set(const char* key, PyObject* value) {
        PyRef owned = PyRef::steal(check(value));
        if (PyDict_SetItemString(dict_.get(), key, owned.get()) < 0) py::throw_python_error();
        return *this;
    }
    Dict& real(const char* key, double v) { return set(key, PyFloat_FromDouble(v)); }
    Dict& count(const char* key, std::uint64_t v) { return set(key, PyLong_FromUnsignedLongLong(v)); }
    Dict& flag(const char* key, bool v) { return set(key, PyBool_FromLong(v)); }
    Dict& sub(const char* key, PyRef value) { return set(key, value.release()); }
    PyRef done() { return std::move(dict_); }

private:
    PyRef dict_;
};

PyRef none() { return PyRef::steal(Py_NewRef(Py_None)); }

template <class T, class F>
PyRef optional_dict(const std::optional<T>& value, F&& convert) {
    return value ? convert(*value) : none();
}

PyRef mcv_dict(const sp::MostCommonValue& r) {
    return Dict().count("mode_count", r.mode_count).real("p_hat", r.p_hat).real("p_u", r.p_u)
        .real("min_entropy", r.min_entropy).done();
}
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

// The caller's progress words: a writable buffer of at least two aligned 64-bit
// words, (finished, total), which the workers update while the call runs.
class ProgressWords {
public:
    explicit ProgressWords(PyObject* obj) {
        if (obj == Py_None) return;
        if (PyObject_GetBuffer(obj, &view_, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) < 0) py::throw_python_error();
        held_ = true;
        if (view_.len < 16 || reinterpret_cast<std::uintptr_t>(view_.buf) % alignof(std::uint64_t) != 0) {
            PyErr_SetString(PyExc_ValueError, "progress must be a writable buffer of two aligned 64-bit words");
            py::throw_python_error();
        }
    }
    ~ProgressWords() {
        if (held_) PyBuffer_Release(&view_);
    }
    ProgressWords(const ProgressWords&) = delete;
    ProgressWords& operator=(const ProgressWords&) = delete;

    sp::Progress progress() const {
        if (!held_) return {};
        auto* words = static_cast<std::uint64_t*>(view_.buf);
        return {words, words + 1};
    }

private:
    Py_buffer view_{};
    bool held_ = false;
};

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
        std::optional<unsigned> width;
        if (width_arg != Py_None) {
            long w = PyLong_AsLong(width_arg);
            if (w == -1 && PyErr_Occurred()) py::throw_python_error();
            if (w < 1 || w > static_cast<long>(sp::MAX_WIDTH)) {
                PyErr_Format(PyExc_ValueError, "bits_per_symbol must be from 1 to 8, not %ld", w);
                py::throw_python_error();
            }
            width = static_cast<unsigned>(w);
        }
        InputBytes input(data);
        // The estimators read the samples many times over: they must not change meanwhile.
        if (input.may_change()) input.make_private();
        ProgressWords words(progress_arg);
        sp::Assessment a;
        {
            WithoutGil unlocked;
            a = sp::assess(input.bytes().data(), input.bytes().size(), width, words.progress());
        }
        Dict d;
        d.count("samples", a.samples).count("width", a.width).count("distinct", a.distinct)
            .flag("translated", a.translated)
            .sub("literal", track_dict(a.literal))
            .sub("bitstring", a.bitstring ? track_dict(*a.bitstring) : none())
            .real("h_original", a.h_original);
        if (a.h_bitstring) {
            d.real("h_bitstring", *a.h_bitstring);
        } else {
            d.set("h_bitstring", Py_NewRef(Py_None));
        }
        return d.real("min_entropy", a.min_entropy).done();
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
