// The steps of a deduplication on a Dask cluster (python/veltrane/_cluster_dedup*.py
// runs them on the workers): each takes and gives byte strings of native
// uint64 words, what the cluster moves between shards and partitions. A
// shard's text is read in place (its bytes object, immutable); the
// computation runs without the interpreter lock.
#include <Python.h>

#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "corpus/pass_removal.hpp"
#include "corpus/shard_anchors.hpp"
#include "corpus/shard_claims.hpp"
#include "corpus/shard_pass.hpp"
#include "corpus/shard_windows.hpp"
#include "engine_binding/call.hpp"
#include "engine_binding/functions.hpp"
#include "engine_binding/input.hpp"
#include "engine_binding/without_gil.hpp"

namespace veltrane::engine {

namespace {

using py::check;
using py::PyRef;
namespace shard = corpus::shard;
using Words = std::vector<std::uint64_t>;

Words words_of(PyObject* obj, const char* what) {
    const InputBytes input(obj);
    if (input.bytes().size() % sizeof(std::uint64_t) != 0) {
        PyErr_Format(PyExc_ValueError, "%s must be native uint64 words, not %zu bytes", what, input.bytes().size());
        py::throw_python_error();
    }
    Words words(input.bytes().size() / sizeof(std::uint64_t));
    if (!words.empty()) std::memcpy(words.data(), input.bytes().data(), input.bytes().size());
    return words;
}

PyRef bytes_of(const void* data, std::size_t size) {
    return PyRef::steal(check(PyBytes_FromStringAndSize(static_cast<const char*>(data), static_cast<Py_ssize_t>(size))));
}
PyRef bytes_of(const Words& words) { return bytes_of(words.data(), words.size() * sizeof(std::uint64_t)); }

// A sequence of buffers, each as words.
std::vector<Words> words_list(PyObject* sequence, const char* what) {
    PyRef items = PyRef::steal(check(PySequence_Fast(sequence, "expected a sequence of byte strings")));
    std::vector<Words> out;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        out.push_back(words_of(PySequence_Fast_GET_ITEM(items.get(), i), what));
    }
    return out;
}

// A sequence of (shard, buffer) pairs.
std::pair<std::vector<std::uint64_t>, std::vector<Words>> tagged_list(PyObject* sequence) {
    PyRef items = PyRef::steal(check(PySequence_Fast(sequence, "expected a sequence of (shard, bytes) pairs")));
    std::pair<std::vector<std::uint64_t>, std::vector<Words>> out;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
        unsigned long long tag = 0;
        PyObject* data = nullptr;
        if (!PyArg_ParseTuple(item, "KO:a (shard, bytes) pair", &tag, &data)) py::throw_python_error();
        out.first.push_back(tag);
        out.second.push_back(words_of(data, "records"));
    }
    return out;
}

std::vector<shard::FromShard> from_shards(const std::pair<std::vector<std::uint64_t>, std::vector<Words>>& tagged) {
    std::vector<shard::FromShard> inputs;
    for (std::size_t i = 0; i < tagged.first.size(); ++i) inputs.push_back({tagged.first[i], tagged.second[i]});
    return inputs;
}

std::vector<std::span<const std::uint64_t>> spans_of(const std::vector<Words>& list) {
    return {list.begin(), list.end()};
}

template <class Box>
PyRef outbox_list(const Box& box) {
    PyRef list = PyRef::steal(check(PyList_New(0)));
    for (const auto& [to, words] : box) {
        PyRef pair = PyRef::steal(check(Py_BuildValue("(KN)", static_cast<unsigned long long>(to), bytes_of(words).release())));
        if (PyList_Append(list.get(), pair.get()) < 0) py::throw_python_error();
    }
    return list;
}

corpus::Keep keep_of(const char* keep) {
    const std::string_view rule(keep);
    if (rule != "first" && rule != "none") {
        PyErr_Format(PyExc_ValueError, "keep must be 'first' or 'none', not '%s'", keep);
        py::throw_python_error();
    }
    return rule == "first" ? corpus::Keep::first : corpus::Keep::none;
}

// A shard's text: its bytes, read in place, and its document offsets.
struct ShardText {
    InputBytes data;
    Words offsets;
    ShardText(PyObject* data_obj, PyObject* offsets_obj) : data(data_obj), offsets(words_of(offsets_obj, "offsets")) {
        data.make_private();
        corpus::check_offsets(offsets, data.bytes().size());
    }
    corpus::CorpusText text() const { return {data.bytes().data(), offsets}; }
};

// Where a shard's bytes came from: three words a piece (at, origin, size).
std::vector<corpus::Piece> pieces_of(PyObject* obj) {
    const Words words = words_of(obj, "pieces");
    std::vector<corpus::Piece> pieces;
    for (std::size_t i = 0; i + 2 < words.size(); i += 3) pieces.push_back({words[i], words[i + 1], words[i + 2]});
    return pieces;
}

// The bytes to look near: None in the first pass (every byte).
std::optional<corpus::Bitset> near_of(PyObject* obj, std::uint64_t size) {
    if (obj == Py_None) return std::nullopt;
    return corpus::Bitset::from_words(words_of(obj, "near"), size);
}

// shard_anchor_records(data, offsets, min_length, near, partitions) -> [bytes per partition]
PyObject* shard_anchor_records(PyObject*, PyObject* args) noexcept {
    return guarded([&] {
        PyObject *data, *offsets, *near_obj;
        unsigned long long length = 0, partitions = 0;
        if (!PyArg_ParseTuple(args, "OOKOK:shard_anchor_records", &data, &offsets, &length, &near_obj, &partitions)) {
            py::throw_python_error();
        }
        const ShardText shard_text(data, offsets);
        const auto near = near_of(near_obj, shard_text.text().size());
        std::vector<Words> parts;
        {
            WithoutGil unlocked;
            parts = shard::anchor_records(shard::anchor_runs(shard_text.text(), length, near ? &*near : nullptr),
                                          partitions);
        }
        PyRef list = PyRef::steal(check(PyList_New(0)));
        for (const Words& part : parts) {
            if (PyList_Append(list.get(), bytes_of(part).get()) < 0) py::throw_python_error();
        }
        return list;
    });
}

// shard_candidate_keys([(shard, records), ...]) -> [(shard, keys), ...]
PyObject* shard_candidate_keys(PyObject*, PyObject* inputs) noexcept {
    return guarded([&] {
        const auto tagged = tagged_list(inputs);
        shard::Outbox out;
        {
            WithoutGil unlocked;
            out = shard::candidate_keys(from_shards(tagged));
        }
        return outbox_list(out);
    });
}

// shard_window_records(data, offsets, position, min_length, keep, near, told, hash_base, partitions)
//   -> (collided, [bytes per partition], duplicates as words)
PyObject* shard_window_records(PyObject*, PyObject* args) noexcept {
    return guarded([&] {
        PyObject *data, *offsets, *near_obj, *told_obj;
        unsigned long long position = 0, length = 0, base = 0, partitions = 0;
        const char* keep = nullptr;
        if (!PyArg_ParseTuple(args, "OOKKsOOKK:shard_window_records", &data, &offsets, &position, &length, &keep,
                              &near_obj, &told_obj, &base, &partitions)) {
            py::throw_python_error();
        }
        const corpus::DedupOptions options{length, keep_of(keep), false};
        corpus::validate(options);
        const ShardText shard_text(data, offsets);
        const auto near = near_of(near_obj, shard_text.text().size());
        Words told;
        for (const Words& keys : words_list(told_obj, "keys")) told.insert(told.end(), keys.begin(), keys.end());
        shard::WindowRecords records;
        {
            WithoutGil unlocked;
            const corpus::CorpusText text = shard_text.text();
            std::vector<shard::AnchorRun> runs;
            if (shard::anchored(length)) runs = shard::anchor_runs(text, length, near ? &*near : nullptr);
            const Words keys = shard::chosen_keys(runs, std::move(told));
            records = shard::window_records(text, position, options, shard::candidate_windows(text, length, runs, keys),
                                            base, partitions);
        }
        PyRef parts = PyRef::steal(check(PyList_New(0)));
        for (const Words& part : records.parts) {
            if (PyList_Append(parts.get(), bytes_of(part).get()) < 0) py::throw_python_error();
        }
        return PyRef::steal(check(Py_BuildValue("(NNN)", PyBool_FromLong(records.collided), parts.release(),
                                                bytes_of(records.duplicates.words()).release())));
    });
}

// shard_window_claims([(shard, records), ...], keep, positions) -> [(owner, claims), ...]
PyObject* shard_window_claims(PyObject*, PyObject* args) noexcept {
    return guarded([&] {
        PyObject *inputs, *positions_obj;
        const char* keep = nullptr;
        if (!PyArg_ParseTuple(args, "OsO:shard_window_claims", &inputs, &keep, &positions_obj)) py::throw_python_error();
        const corpus::Keep rule = keep_of(keep);
        const auto tagged = tagged_list(inputs);
        const Words positions = words_of(positions_obj, "positions");
        shard::Outbox out;
        {
            WithoutGil unlocked;
            out = shard::window_claims(from_shards(tagged), rule, positions);
        }
        return outbox_list(out);
    });
}

// shard_serve(data, offsets, position, min_length, [claims, ...], positions) -> [(claimant, runs), ...]
PyObject* shard_serve(PyObject*, PyObject* args) noexcept {
    return guarded([&] {
        PyObject *data, *offsets, *claims_obj, *positions_obj;
        unsigned long long position = 0, length = 0;
        if (!PyArg_ParseTuple(args, "OOKKOO:shard_serve", &data, &offsets, &position, &length, &claims_obj,
                              &positions_obj)) {
            py::throw_python_error();
        }
        const ShardText shard_text(data, offsets);
        const std::vector<Words> claims = words_list(claims_obj, "claims");
        const Words positions = words_of(positions_obj, "positions");
        shard::RunOutbox out;
        {
            WithoutGil unlocked;
            out = shard::serve_claims(shard_text.text(), position, length, spans_of(claims), positions);
        }
        return outbox_list(out);
    });
}

// shard_finish(data, offsets, pieces, position, duplicates, [runs, ...], min_length, keep, whole_lines)
//   -> (collided, removed, data or None when unchanged, offsets, pieces, near)
PyObject* shard_finish(PyObject*, PyObject* args) noexcept {
    return guarded([&] {
        PyObject *data, *offsets, *pieces_obj, *duplicates_obj, *runs_obj;
        unsigned long long position = 0, length = 0;
        const char* keep = nullptr;
        int whole_lines = 0;
        if (!PyArg_ParseTuple(args, "OOOKOOKsp:shard_finish", &data, &offsets, &pieces_obj, &position,
                              &duplicates_obj, &runs_obj, &length, &keep, &whole_lines)) {
            py::throw_python_error();
        }
        const corpus::DedupOptions options{length, keep_of(keep), whole_lines != 0};
        corpus::validate(options);
        const ShardText shard_text(data, offsets);
        const std::vector<corpus::Piece> pieces = pieces_of(pieces_obj);
        corpus::Bitset duplicates = corpus::Bitset::from_words(words_of(duplicates_obj, "duplicates"),
                                                               shard_text.text().size());
        const std::vector<Words> runs = words_list(runs_obj, "runs");
        shard::ShardPass done;
        {
            WithoutGil unlocked;
            done = shard::finish_pass(shard_text.text(), position, pieces, std::move(duplicates), spans_of(runs), options);
        }
        Words out_pieces;
        for (const corpus::Piece& piece : done.next.pieces) out_pieces.insert(out_pieces.end(), {piece.at, piece.origin, piece.size});
        PyRef text = done.same_bytes || done.collided ? PyRef::steal(Py_NewRef(Py_None))
                                                      : bytes_of(done.next.bytes.data(), done.next.bytes.size());
        return PyRef::steal(check(Py_BuildValue("(NKNNNN)", PyBool_FromLong(done.collided),
                                                static_cast<unsigned long long>(done.removed), text.release(),
                                                bytes_of(done.next.offsets).release(), bytes_of(out_pieces).release(),
                                                bytes_of(done.next.near.words()).release())));
    });
}

// shard_removed_ranges(original_offsets, pieces) -> (documents, starts, ends) as words
PyObject* shard_removed_ranges(PyObject*, PyObject* args) noexcept {
    return guarded([&] {
        PyObject *offsets_obj, *pieces_obj;
        if (!PyArg_ParseTuple(args, "OO:shard_removed_ranges", &offsets_obj, &pieces_obj)) py::throw_python_error();
        const Words offsets = words_of(offsets_obj, "offsets");
        const std::vector<corpus::Piece> pieces = pieces_of(pieces_obj);
        corpus::DedupResult result;
        corpus::removed_ranges(offsets, pieces, result);
        return PyRef::steal(check(Py_BuildValue("(NNN)", bytes_of(result.documents).release(),
                                                bytes_of(result.starts).release(), bytes_of(result.ends).release())));
    });
}

}  // namespace

PyMethodDef CLUSTER_DEDUP_FUNCTIONS[] = {
    {"shard_anchor_records", as_method(&shard_anchor_records), METH_VARARGS,
     "shard_anchor_records(data, offsets, min_length, near, partitions, /)\n--\n\nA shard's anchor records per partition."},
    {"shard_candidate_keys", as_method(&shard_candidate_keys), METH_O,
     "shard_candidate_keys(inputs, /)\n--\n\nAt a partition: the keys each shard must hear of."},
    {"shard_window_records", as_method(&shard_window_records), METH_VARARGS,
     "shard_window_records(data, offsets, position, min_length, keep, near, told, hash_base, partitions, /)\n--\n\n"
     "A shard's candidate windows: (collided, records per partition, its own duplicates)."},
    {"shard_window_claims", as_method(&shard_window_claims), METH_VARARGS,
     "shard_window_claims(inputs, keep, positions, /)\n--\n\nAt a partition: the claims for each owning shard."},
    {"shard_serve", as_method(&shard_serve), METH_VARARGS,
     "shard_serve(data, offsets, position, min_length, claims, positions, /)\n--\n\nThe runs of bytes claimed."},
    {"shard_finish", as_method(&shard_finish), METH_VARARGS,
     "shard_finish(data, offsets, pieces, position, duplicates, runs, min_length, keep, whole_lines, /)\n--\n\n"
     "Verifies the runs and removes: (collided, removed, data, offsets, pieces, near)."},
    {"shard_removed_ranges", as_method(&shard_removed_ranges), METH_VARARGS,
     "shard_removed_ranges(offsets, pieces, /)\n--\n\nThe ranges removed from a shard as given."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace veltrane::engine
