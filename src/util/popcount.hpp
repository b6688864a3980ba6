// Counting the set bits of a word in one instruction where the processor has it.
//
// The module is built for the baseline x86-64 instruction set, which has no
// bit count: there std::popcount is a call into the compiler's runtime, a
// dozen instructions. Nearly every x86-64 processor in use has the POPCNT
// instruction, so the code that is mostly bit counting asks which one it runs
// on, once, and uses the instruction.
#pragma once

#include <bit>
#include <cstdint>

#if (defined(__x86_64__) || defined(__i386__)) && !defined(__POPCNT__) && defined(__GNUC__)
#define VELTRANE_POPCNT_DISPATCH 1
#else
#define VELTRANE_POPCNT_DISPATCH 0
#endif

namespace veltrane::util {

#if VELTRANE_POPCNT_DISPATCH
// Asked while the libraries are being initialised, possibly before the
// compiler's runtime has looked at the processor: hence the explicit init.
inline const bool HARDWARE_POPCOUNT = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("popcnt") != 0;
}();
#endif

// The number of set bits of x (a well-predicted branch on the processor's kind).
inline unsigned popcount64(std::uint64_t x) {
#if VELTRANE_POPCNT_DISPATCH
    if (HARDWARE_POPCOUNT) {
        std::uint64_t count;
        asm("popcnt %1, %0" : "=r"(count) : "rm"(x) : "cc");
        return static_cast<unsigned>(count);
    }
#endif
    return static_cast<unsigned>(std::popcount(x));
}

}  // namespace veltrane::util
