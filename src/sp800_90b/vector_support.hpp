// Which wide vector instructions the estimators on bits may use: the module is
// built for the baseline x86-64 instruction set, and the few loops written for
// 512-bit vectors ask the processor once whether it has them.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__)
#define VELTRANE_SP800_VECTORS 1
// 512-bit integer vectors with byte and word lanes, doubleword and quadword
// masks, concatenating shifts and bit counts per lane (Ice Lake and later).
#define VELTRANE_SP800_VECTOR_TARGET "avx512f,avx512bw,avx512dq,avx512vbmi2,avx512vpopcntdq"
#else
#define VELTRANE_SP800_VECTORS 0
#endif

namespace veltrane::sp800_90b {

// Whether the processor (and the system) has every instruction set of
// VELTRANE_SP800_VECTOR_TARGET.
inline bool has_vectors() {
#if VELTRANE_SP800_VECTORS
    static const bool available = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                                  __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vbmi2") &&
                                  __builtin_cpu_supports("avx512vpopcntdq");
    return available;
#else
    return false;
#endif
}

}  // namespace veltrane::sp800_90b
