#include "engine_binding/cluster_words.hpp"

#include <cstring>
#include <string_view>

#include "engine_binding/input.hpp"

namespace veltrane::engine::cluster {

using py::check;
using py::PyRef;

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

std::vector<Words> words_list(PyObject* sequence, const char* what) {
    PyRef items = PyRef::steal(check(PySequence_Fast(sequence, "expected a sequence of byte strings")));
    std::vector<Words> out;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        out.push_back(words_of(PySequence_Fast_GET_ITEM(items.get(), i), what));
    }
    return out;
}

std::vector<std::span<const std::uint64_t>> spans_of(const std::vector<Words>& list) {
    return {list.begin(), list.end()};
}

std::vector<corpus::shard::FromShard> Tagged::inputs() const {
    std::vector<corpus::shard::FromShard> out;
    for (std::size_t i = 0; i < shards.size(); ++i) out.push_back({shards[i], words[i]});
    return out;
}

Tagged tagged_list(PyObject* sequence) {
    PyRef items = PyRef::steal(check(PySequence_Fast(sequence, "expected a sequence of (shard, bytes) pairs")));
    Tagged out;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
        unsigned long long tag = 0;
        PyObject* data = nullptr;
        if (!PyArg_ParseTuple(item, "KO:a (shard, bytes) pair", &tag, &data)) py::throw_python_error();
        out.shards.push_back(tag);
        out.words.push_back(words_of(data, "records"));
    }
    return out;
}

PyRef outbox_list(const std::vector<std::pair<std::uint64_t, Words>>& box) {
    PyRef list = PyRef::steal(check(PyList_New(0)));
    for (const auto& [to, words] : box) {
        PyRef pair = PyRef::steal(check(Py_BuildValue("(KN)", static_cast<unsigned long long>(to), bytes_of(words).release())));
        if (PyList_Append(list.get(), pair.get()) < 0) py::throw_python_error();
    }
    return list;
}

PyRef bytes_list(std::vector<Words>&& parts) {
    PyRef list = PyRef::steal(check(PyList_New(0)));
    for (Words& part : parts) {
        if (PyList_Append(list.get(), bytes_of(part).get()) < 0) py::throw_python_error();
        Words().swap(part);  // each part's words go as soon as its bytes exist: one copy at a time, not two
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

}  // namespace veltrane::engine::cluster
