// `strings_frag`: the repeated-fragment search.
#include <cstdint>

#include "frame.hpp"
#include "modules.hpp"

namespace veltrane::py {

namespace {

inline constexpr Parameters<BytesOrStr, std::uint64_t, std::uint64_t, bool> FIND_NON_OVERLAPPING_FRAGMENTS{
    "find_non_overlapping_fragments", {"data", "count", "times", "global_non_overlap"}};

PyRef not_yet(BytesOrStr, std::uint64_t, std::uint64_t, bool) {
    PyErr_SetString(PyExc_NotImplementedError, "not implemented yet");
    throw_python_error();
}

PyMethodDef find_non_overlapping_fragments_def = {
    "find_non_overlapping_fragments", as_method(&fastcall<FIND_NON_OVERLAPPING_FRAGMENTS, not_yet>),
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
