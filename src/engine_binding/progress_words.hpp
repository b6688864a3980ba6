// The caller's progress words: a writable buffer of at least two aligned
// 64-bit words, (finished, total), which the workers update while a call runs
// and another Python thread reads for a progress bar.
#pragma once

#include <Python.h>

#include <cstdint>

namespace veltrane::engine {

class ProgressWords {
public:
    // None: no progress wanted. Throws PythonError (ValueError or the buffer's own).
    explicit ProgressWords(PyObject* obj);
    ~ProgressWords();
    ProgressWords(const ProgressWords&) = delete;
    ProgressWords& operator=(const ProgressWords&) = delete;

    std::uint64_t* finished() const noexcept { return held_ ? static_cast<std::uint64_t*>(view_.buf) : nullptr; }
    std::uint64_t* total() const noexcept { return held_ ? static_cast<std::uint64_t*>(view_.buf) + 1 : nullptr; }

private:
    Py_buffer view_{};
    bool held_ = false;
};

}  // namespace veltrane::engine
