// What the steps of a deduplication on a Dask cluster pass between them, as
// Python sees it: byte strings of native uint64 words, lists of them, and
// (shard, words) pairs; and the keep rule by name.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "binding/errors.hpp"
#include "binding/pyref.hpp"
#include "corpus/duplicate_windows.hpp"
#include "corpus/shard_records.hpp"

namespace veltrane::engine::cluster {

using Words = std::vector<std::uint64_t>;

// The words of a buffer; ValueError naming `what` when its size is no whole number of words.
Words words_of(PyObject* obj, const char* what);
py::PyRef bytes_of(const void* data, std::size_t size);
py::PyRef bytes_of(const Words& words);
// A sequence of buffers, each as words.
std::vector<Words> words_list(PyObject* sequence, const char* what);
std::vector<std::span<const std::uint64_t>> spans_of(const std::vector<Words>& list);

// A sequence of (shard, buffer) pairs, as a partition receives them.
struct Tagged {
    std::vector<std::uint64_t> shards;
    std::vector<Words> words;
    std::vector<corpus::shard::FromShard> inputs() const;
};
Tagged tagged_list(PyObject* sequence);

// [(destination, bytes), ...]
py::PyRef outbox_list(const std::vector<std::pair<std::uint64_t, Words>>& box);
// [bytes, ...]
py::PyRef bytes_list(std::vector<Words>&& parts);  // emptied as it goes

// ValueError unless `keep` is 'first' or 'none'.
corpus::Keep keep_of(const char* keep);

}  // namespace veltrane::engine::cluster
