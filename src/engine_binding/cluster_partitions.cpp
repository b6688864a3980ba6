// The partitions' steps of a deduplication on a Dask cluster: from every
// shard's records of the keys in one partition, the decisions, addressed to
// the shards (shard_runs.hpp, shard_claims.hpp). Nothing here reads a corpus byte.
#include <Python.h>

#include "corpus/shard_claims.hpp"
#include "corpus/shard_runs.hpp"
#include "engine_binding/call.hpp"
#include "engine_binding/cluster_words.hpp"
#include "engine_binding/functions.hpp"
#include "engine_binding/without_gil.hpp"

namespace veltrane::engine {

namespace {

using py::check;
using py::PyRef;
namespace shard = corpus::shard;
using namespace cluster;

// shard_run_decisions([(shard, records), ...], [(shard, second keys), ...], keep, positions)
//   -> ([(owner, claims), ...], [(shard, representative runs), ...], [(shard, shared second keys), ...])
PyObject* shard_run_decisions(PyObject*, PyObject* args) noexcept {
    return guarded([&] {
        PyObject *inputs, *second_obj, *positions_obj;
        const char* keep = nullptr;
        if (!PyArg_ParseTuple(args, "OOsO:shard_run_decisions", &inputs, &second_obj, &keep, &positions_obj)) {
            py::throw_python_error();
        }
        const corpus::Keep rule = keep_of(keep);
        const Words positions = words_of(positions_obj, "positions");
        shard::RunDecisions out;
        {
            Tagged tagged = tagged_list(inputs);
            const Tagged second = tagged_list(second_obj);
            WithoutGil unlocked;
            out = shard::run_decisions(tagged.inputs(), second.inputs(), rule, positions);
        }
        return PyRef::steal(check(Py_BuildValue("(NNN)", outbox_list(out.claims).release(), outbox_list(out.representatives).release(),
                                                outbox_list(out.shared).release())));
    });
}

// shard_window_claims([(shard, records), ...], keep, positions) -> [(owner, claims), ...]
PyObject* shard_window_claims(PyObject*, PyObject* args) noexcept {
    return guarded([&] {
        PyObject *inputs, *positions_obj;
        const char* keep = nullptr;
        if (!PyArg_ParseTuple(args, "OsO:shard_window_claims", &inputs, &keep, &positions_obj)) py::throw_python_error();
        const corpus::Keep rule = keep_of(keep);
        const Tagged tagged = tagged_list(inputs);
        const Words positions = words_of(positions_obj, "positions");
        shard::Outbox out;
        {
            WithoutGil unlocked;
            out = shard::window_claims(tagged.inputs(), rule, positions);
        }
        return outbox_list(out);
    });
}

}  // namespace

PyMethodDef CLUSTER_PARTITION_FUNCTIONS[] = {
    {"shard_run_decisions", as_method(&shard_run_decisions), METH_VARARGS,
     "shard_run_decisions(inputs, second_keys, keep, positions, /)\n--\n\n"
     "At a partition: the claims on each shard's runs, its runs to decide window by window and its shared second "
     "keys."},
    {"shard_window_claims", as_method(&shard_window_claims), METH_VARARGS,
     "shard_window_claims(inputs, keep, positions, /)\n--\n\nAt a partition: the claims on each shard's windows."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace veltrane::engine
