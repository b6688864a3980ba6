// `min_entropy`: min-entropy (H_infinity) of the bytes of `data`.
#include "frame.hpp"
#include "min_entropy/min_entropy.hpp"
#include "modules.hpp"

namespace veltrane::py {

namespace {

inline constexpr Parameters<BytesOrStr> MEASURE_ENTROPY{"measure_entropy", {"data"}};

PyRef measure_entropy(BytesOrStr data) {
    const auto bytes = data.bytes();
    return PyRef::steal(check(PyFloat_FromDouble(min_entropy::min_entropy(bytes.data(), bytes.size()))));
}

PyMethodDef measure_entropy_def = {
    "measure_entropy", as_method(&fastcall<MEASURE_ENTROPY, measure_entropy>), METH_FASTCALL | METH_KEYWORDS,
    "measure_entropy(data)\n--\n\n计算数据的最小熵 (Min-entropy: "
    "H_infinity).\n\n最小熵表示预测最可能出现的字节所需的比特数：`H_inf = -log2(max(P))`.\n\n返回值：通常在 "
    "`0.0..=8.0` bits 之间。若数据为空则返回 `0.0`。"};

void populate_min_entropy(PyObject* module) { add_function(module, &measure_entropy_def); }

}  // namespace

VELTRANE_DEFINE_MODULE(min_entropy_module, "min_entropy", "Min entropy algorithm module", populate_min_entropy)

}  // namespace veltrane::py
