// `strings_frag`: the repeated-fragment search.
#include <cstdint>
#include <span>
#include <vector>

#include "frame.hpp"
#include "modules.hpp"
#include "pool/cancel.hpp"
#include "strings/frag/search.hpp"

namespace veltrane::py {

namespace {

inline constexpr Parameters<BytesOrStr, std::uint64_t, std::uint64_t, bool> FIND_NON_OVERLAPPING_FRAGMENTS{
    "find_non_overlapping_fragments", {"data", "count", "times", "global_non_overlap"}};

using strings::frag::Fragment;
using strings::frag::find_non_overlapping_fragments_generic;

template <class T>
std::vector<Fragment> search(const void* elements, Py_ssize_t length, std::uint64_t count, std::uint64_t times,
                             bool global_non_overlap) {
    std::span<const T> seq(static_cast<const T*>(elements), static_cast<std::size_t>(length));
    return find_non_overlapping_fragments_generic(seq, count, times, global_non_overlap);
}

// A text is searched in code points. The interpreter already stores it as one
// array of 1-, 2- or 4-byte code points, and it cannot change during the call,
// so the search reads that array in place instead of decoding the UTF-8 again.
std::vector<Fragment> search_text(PyObject* text, std::uint64_t count, std::uint64_t times, bool global_non_overlap) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    const void* data = PyUnicode_DATA(text);
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND:
            return search<Py_UCS1>(data, length, count, times, global_non_overlap);
        case PyUnicode_2BYTE_KIND:
            return search<Py_UCS2>(data, length, count, times, global_non_overlap);
        default:
            return search<Py_UCS4>(data, length, count, times, global_non_overlap);
    }
}

PyRef new_int(std::uint64_t value) { return PyRef::steal(check(PyLong_FromUnsignedLongLong(value))); }

void set_item(PyObject* dict, PyObject* key, const PyRef& value) {
    if (PyDict_SetItem(dict, key, value.get()) < 0) throw_python_error();
}

// [{"id": i, "occurrences": [{"start": s, "end": e}, ...]}, ...]; every list is
// created at its final length and filled in order. On any failure the objects
// built so far are released by their owners and nothing is returned.
PyRef to_python(std::vector<Fragment>& fragments) {
    PyRef id_key = PyRef::steal(check(PyUnicode_InternFromString("id")));
    PyRef occurrences_key = PyRef::steal(check(PyUnicode_InternFromString("occurrences")));
    PyRef start_key = PyRef::steal(check(PyUnicode_InternFromString("start")));
    PyRef end_key = PyRef::steal(check(PyUnicode_InternFromString("end")));
    PyRef result = PyRef::steal(check(PyList_New(static_cast<Py_ssize_t>(fragments.size()))));
    for (std::size_t i = 0; i < fragments.size(); ++i) {
        Fragment& fragment = fragments[i];
        PyRef entry = PyRef::steal(check(PyDict_New()));
        set_item(entry.get(), id_key.get(), new_int(fragment.id));
        PyRef intervals = PyRef::steal(check(PyList_New(static_cast<Py_ssize_t>(fragment.occurrences.size()))));
        for (std::size_t k = 0; k < fragment.occurrences.size(); ++k) {
            if ((k & 0xFFF) == 0) pool::checkpoint();  // a result can hold millions of dicts
            PyRef interval = PyRef::steal(check(PyDict_New()));
            set_item(interval.get(), start_key.get(), new_int(fragment.occurrences[k].start));
            set_item(interval.get(), end_key.get(), new_int(fragment.occurrences[k].end));
            PyList_SET_ITEM(intervals.get(), static_cast<Py_ssize_t>(k), interval.release());
        }
        set_item(entry.get(), occurrences_key.get(), intervals);
        fragment.occurrences = {};  // released as soon as its dicts exist
        PyList_SET_ITEM(result.get(), static_cast<Py_ssize_t>(i), entry.release());
    }
    return result;
}

PyRef find_non_overlapping_fragments(BytesOrStr data, std::uint64_t count, std::uint64_t times,
                                     bool global_non_overlap) {
    std::vector<Fragment> found;
    if (data.is_str()) {
        found = search_text(data.source_str(), count, times, global_non_overlap);
    } else {
        data.make_private();  // the workers need bytes that cannot change under them
        const auto bytes = data.bytes();
        found = search<std::uint8_t>(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), count, times,
                                     global_non_overlap);
    }
    return to_python(found);
}

PyMethodDef find_non_overlapping_fragments_def = {
    "find_non_overlapping_fragments", as_method(&fastcall<FIND_NON_OVERLAPPING_FRAGMENTS, find_non_overlapping_fragments>),
    METH_FASTCALL | METH_KEYWORDS,
    "find_non_overlapping_fragments(data, count, times, global_non_overlap)\n"
    "--\n"
    "\n"
    "在字符串或字节序列中寻找出现次数至少为 `t` 次的不重叠片段。\n"
    "\n"
    "本函数会穷举输入数据中所有可能的连续子片段，并计算每个片段在数据中**不重叠**出现的次数。\n"
    "最终按照 `(总覆盖长度, 片段长度, 出现次数)` 降序排列并返回前 `count` 个片段。\n"
    "\n"
    "## 索引规则\n"
    "- 传入 **字符串** (`str`) 时：返回的区间索引按 **Unicode 字符 (char)** 计数。\n"
    "- 传入 **字节序列** (`bytes`, `bytearray`, `Sequence[int]`) 时：返回的区间索引按 **字节 (byte)** 计数。\n"
    "\n"
    "## 参数\n"
    "- `data`: 输入的字符串或字节数据。\n"
    "- `count`: 最多返回的片段数量 (例如 `100`)。\n"
    "- `times`: 每个片段最少需要的非重叠出现次数 (例如 `2`)。\n"
    "- `global_non_overlap`:\n"
    "  - `false`: 仅要求**同一个片段**内部的多次出现互不重叠。\n"
    "  - `true`: 额外要求**不同片段之间**占据的位置也互不重叠（按优先级保留先选中的片段）。\n"
    "\n"
    "## 返回值\n"
    "```python\n"
    "list[dict[str, int | list[dict[str, int]]]]\n"
    "Example: [{'id': 0, 'occurrences': [{'start': 0, 'end': 17}]}]\n"
    "```"};

void populate_strings_frag(PyObject* module) { add_function(module, &find_non_overlapping_fragments_def); }

}  // namespace

VELTRANE_DEFINE_MODULE(strings_frag_module, "strings_frag", "", populate_strings_frag)

}  // namespace veltrane::py
