// The shards' steps of a deduplication on a Dask cluster
// (python/veltrane/_cluster_dedup*.py runs them on the workers): each takes
// and gives byte strings of native uint64 words, what the cluster moves
// between shards and partitions. A shard's text is read in place (an
// immutable buffer); the computation runs without the interpreter lock.
#include <Python.h>

#include <algorithm>
#include <optional>
#include <span>
#include <vector>

#include "corpus/pass_removal.hpp"
#include "corpus/shard_anchors.hpp"
#include "corpus/shard_claims.hpp"
#include "corpus/shard_pass.hpp"
#include "corpus/shard_runs.hpp"
#include "corpus/shard_text.hpp"
#include "corpus/shard_windows.hpp"
#include "engine_binding/call.hpp"
#include "engine_binding/cluster_words.hpp"
#include "engine_binding/functions.hpp"
#include "engine_binding/input.hpp"
#include "engine_binding/without_gil.hpp"

namespace veltrane::engine {

namespace {

using py::check;
using py::PyRef;
namespace shard = corpus::shard;
using namespace cluster;

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
    if (words.size() % 3 != 0) {
        PyErr_SetString(PyExc_ValueError, "pieces must be three words each");
        py::throw_python_error();
    }
    std::vector<corpus::Piece> pieces;
    for (std::size_t i = 0; i < words.size(); i += 3) pieces.push_back({words[i], words[i + 1], words[i + 2]});
    return pieces;
}

Words piece_words(const std::vector<corpus::Piece>& pieces) {
    Words words;
    for (const corpus::Piece& piece : pieces) words.insert(words.end(), {piece.at, piece.origin, piece.size});
    return words;
}

// The bytes to look near, as ranges: None in the first pass (every byte).
std::optional<corpus::Bitset> near_of(PyObject* obj, std::uint64_t size) {
    if (obj == Py_None) return std::nullopt;
    return shard::from_ranges(words_of(obj, "near"), size);
}

corpus::DedupOptions options_of(unsigned long long length, const char* keep, bool whole_lines) {
    const corpus::DedupOptions options{length, keep_of(keep), whole_lines};
    corpus::validate(options);
    return options;
}

// shard_anchored(min_length) -> whether windows of min_length bytes pick anchors (else all go window by window)
PyObject* shard_anchored(PyObject*, PyObject* arg) noexcept {
    return guarded([&] {
        const unsigned long long length = PyLong_AsUnsignedLongLong(arg);
        if (length == static_cast<unsigned long long>(-1) && PyErr_Occurred()) py::throw_python_error();
        return PyRef::steal(PyBool_FromLong(shard::anchored(length)));
    });
}

// shard_text_from_pieces(data, offsets, pieces) -> (data, offsets): the text the pieces keep of the text as loaded
PyObject* shard_text_from_pieces(PyObject*, PyObject* args) noexcept {
    return guarded([&] {
        PyObject *data, *offsets, *pieces_obj;
        if (!PyArg_ParseTuple(args, "OOO:shard_text_from_pieces", &data, &offsets, &pieces_obj)) py::throw_python_error();
        const ShardText original(data, offsets);
        const std::vector<corpus::Piece> pieces = pieces_of(pieces_obj);
        corpus::PassText text;
        {
            WithoutGil unlocked;
            text = shard::text_from_pieces(original.text(), pieces);
        }
        return PyRef::steal(check(Py_BuildValue("(NN)", bytes_of(text.bytes.data(), text.bytes.size()).release(),
                                                bytes_of(text.offsets).release())));
    });
}

// shard_run_records(data, offsets, position, min_length, keep, near, hash_base, partitions)
//   -> (collided, [run records per partition], [second keys per partition], duplicates as words)
PyObject* shard_run_records(PyObject*, PyObject* args) noexcept {
    return guarded([&] {
        PyObject *data, *offsets, *near_obj;
        unsigned long long position = 0, length = 0, base = 0, partitions = 0;
        const char* keep = nullptr;
        if (!PyArg_ParseTuple(args, "OOKKsOKK:shard_run_records", &data, &offsets, &position, &length, &keep, &near_obj,
                              &base, &partitions)) {
            py::throw_python_error();
        }
        const corpus::DedupOptions options = options_of(length, keep, false);
        if (!shard::anchored(length) || partitions == 0) {
            PyErr_Format(PyExc_ValueError, "run records need windows of at least 32 bytes and a partition, not %llu and %llu",
                         length, partitions);
            py::throw_python_error();
        }
        const ShardText shard_text(data, offsets);
        const auto near = near_of(near_obj, shard_text.text().size());
        shard::RunRecords records;
        {
            WithoutGil unlocked;
            records = shard::run_records(shard_text.text(), position, options, near ? &*near : nullptr, base, partitions);
        }
        return PyRef::steal(check(Py_BuildValue("(NNNN)", PyBool_FromLong(records.collided), bytes_list(std::move(records.parts)).release(),
                                                bytes_list(std::move(records.second_keys)).release(),
                                                bytes_of(records.duplicates.words()).release())));
    });
}

// shard_window_records(data, offsets, position, min_length, keep, representatives, shared, hash_base, partitions,
//                      duplicates) -> (collided, [bytes per partition], duplicates as words)
// `representatives`, `shared`: byte strings of the representative runs (pairs) and
// shared second keys the partitions told, or both None for every window.
PyObject* shard_window_records(PyObject*, PyObject* args) noexcept {
    return guarded([&] {
        PyObject *data, *offsets, *runs_obj, *shared_obj, *duplicates_obj;
        unsigned long long position = 0, length = 0, base = 0, partitions = 0;
        const char* keep = nullptr;
        if (!PyArg_ParseTuple(args, "OOKKsOOKKO:shard_window_records", &data, &offsets, &position, &length, &keep,
                              &runs_obj, &shared_obj, &base, &partitions, &duplicates_obj)) {
            py::throw_python_error();
        }
        const corpus::DedupOptions options = options_of(length, keep, false);
        if (partitions == 0) {
            PyErr_SetString(PyExc_ValueError, "partitions must be at least 1");
            py::throw_python_error();
        }
        const ShardText shard_text(data, offsets);
        const bool every_window = runs_obj == Py_None || !shard::anchored(length);
        Words representatives, shared;
        for (auto [obj, keys] : {std::pair{runs_obj, &representatives}, std::pair{shared_obj, &shared}}) {
            if (obj == Py_None) continue;
            for (const Words& part : words_list(obj, "keys")) keys->insert(keys->end(), part.begin(), part.end());
        }
        corpus::Bitset known = corpus::Bitset::from_words(words_of(duplicates_obj, "duplicates"), shard_text.text().size());
        shard::WindowRecords records;
        {
            WithoutGil unlocked;
            const corpus::CorpusText text = shard_text.text();
            corpus::Bitset candidates;
            if (every_window) {
                candidates = corpus::window_starts(text, length);
            } else {
                std::sort(shared.begin(), shared.end());
                candidates = shard::candidate_windows(text, position, length, representatives, shared);
            }
            records = shard::window_records(text, position, options, candidates, base, partitions);
            records.duplicates.unite(known);
        }
        return PyRef::steal(check(Py_BuildValue("(NNN)", PyBool_FromLong(records.collided), bytes_list(std::move(records.parts)).release(),
                                                bytes_of(records.duplicates.words()).release())));
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
//   -> (collided, removed, data or None when unchanged, offsets, pieces, near as ranges)
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
        const corpus::DedupOptions options = options_of(length, keep, whole_lines != 0);
        const ShardText shard_text(data, offsets);
        const std::vector<corpus::Piece> pieces = pieces_of(pieces_obj);
        corpus::Bitset duplicates = corpus::Bitset::from_words(words_of(duplicates_obj, "duplicates"),
                                                               shard_text.text().size());
        const std::vector<Words> runs = words_list(runs_obj, "runs");
        shard::ShardPass done;
        Words near;
        {
            WithoutGil unlocked;
            done = shard::finish_pass(shard_text.text(), position, pieces, std::move(duplicates), spans_of(runs), options);
            if (!done.collided) near = shard::set_ranges(done.next.near);
        }
        PyRef text = done.same_bytes || done.collided ? PyRef::steal(Py_NewRef(Py_None))
                                                      : bytes_of(done.next.bytes.data(), done.next.bytes.size());
        return PyRef::steal(check(Py_BuildValue("(NKNNNN)", PyBool_FromLong(done.collided),
                                                static_cast<unsigned long long>(done.removed), text.release(),
                                                bytes_of(done.next.offsets).release(),
                                                bytes_of(piece_words(done.next.pieces)).release(),
                                                bytes_of(near).release())));
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
    {"shard_anchored", as_method(&shard_anchored), METH_O,
     "shard_anchored(min_length, /)\n--\n\nWhether windows of min_length bytes pick anchors."},
    {"shard_text_from_pieces", as_method(&shard_text_from_pieces), METH_VARARGS,
     "shard_text_from_pieces(data, offsets, pieces, /)\n--\n\nThe text the pieces keep of a shard as loaded: (data, offsets)."},
    {"shard_run_records", as_method(&shard_run_records), METH_VARARGS,
     "shard_run_records(data, offsets, position, min_length, keep, near, hash_base, partitions, /)\n--\n\n"
     "A shard's anchor runs by class and its second keys: (collided, run records and second keys per partition, "
     "its own duplicates)."},
    {"shard_window_records", as_method(&shard_window_records), METH_VARARGS,
     "shard_window_records(data, offsets, position, min_length, keep, representatives, shared, hash_base, partitions, "
     "duplicates, /)"
     "\n--\n\n"
     "A shard's windows decided one by one: (collided, records per partition, its own duplicates)."},
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
