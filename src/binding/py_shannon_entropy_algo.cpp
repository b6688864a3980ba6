// `shannon_entropy`: Shannon entropy of the bytes of `data`, plain, metric and normalised.
#include "frame.hpp"
#include "modules.hpp"
#include "shannon_entropy/measures.hpp"

namespace veltrane::py {

namespace {

inline constexpr Parameters<BytesOrStr> MEASURE_ENTROPY{"measure_entropy", {"data"}};
inline constexpr Parameters<BytesOrStr> MEASURE_METRIC_ENTROPY{"measure_metric_entropy", {"data"}};
inline constexpr Parameters<BytesOrStr> MEASURE_NORMALIZED_METRIC_ENTROPY{"measure_normalized_metric_entropy",
                                                                          {"data"}};

// A text is measured over its UTF-8 bytes, like any byte sequence.
template <double (*Measure)(const std::uint8_t*, std::size_t)>
PyRef measure(BytesOrStr data) {
    const auto bytes = data.bytes();
    return PyRef::steal(check(PyFloat_FromDouble(Measure(bytes.data(), bytes.size()))));
}

PyMethodDef measure_entropy_def = {
    "measure_entropy", as_method(&fastcall<MEASURE_ENTROPY, measure<shannon_entropy::measure_entropy>>), METH_FASTCALL | METH_KEYWORDS,
    "measure_entropy(data)\n--\n\n计算数据的香农熵 (Shannon entropy).\n\n衡量数据的随机性/信息密度：`H = -sum(p * "
    "log2(p))`.\n\n返回值：通常在 `0.0..=8.0` bits 之间。若数据为空则返回 `0.0`。"};
PyMethodDef measure_metric_entropy_def = {
    "measure_metric_entropy", as_method(&fastcall<MEASURE_METRIC_ENTROPY, measure<shannon_entropy::measure_metric_entropy>>), METH_FASTCALL | METH_KEYWORDS,
    "measure_metric_entropy(data)\n--\n\n计算标准的度量香农熵 (Metric Shannon entropy).\n\n将香农熵按 `8-bit` 最大 "
    "theoretical 熵 (`8.0` bits) 进行归一化。\n\n返回值：通常在 `0.0..=1.0` 之间。"};
PyMethodDef measure_normalized_metric_entropy_def = {
    "measure_normalized_metric_entropy", as_method(&fastcall<MEASURE_NORMALIZED_METRIC_ENTROPY, measure<shannon_entropy::measure_normalized_metric_entropy>>),
    METH_FASTCALL | METH_KEYWORDS,
    "measure_normalized_metric_entropy(data)\n--\n\n规范化缩放的香农熵 (Normalized Shannon "
    "entropy)。\n\n完全随机数据的返回值紧密分布在 `1.0` 周围。\n\n返回值：通常在 `0.0..=1.0` "
    "之间。有些故意编写的数据会导致结果超过 `1.0`。"};

void populate_shannon_entropy(PyObject* module) {
    add_function(module, &measure_entropy_def);
    add_function(module, &measure_metric_entropy_def);
    add_function(module, &measure_normalized_metric_entropy_def);
}

}  // namespace

VELTRANE_DEFINE_MODULE(shannon_entropy_module, "shannon_entropy", "Shannon entropy algorithm module",
                       populate_shannon_entropy)

}  // namespace veltrane::py
