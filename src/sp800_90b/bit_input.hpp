// The precondition of the estimators defined for bits only, and the test of
// the tuple counts' packed-bit sort.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "sp800_90b/estimators.hpp"

namespace veltrane::sp800_90b {

// Whether k == 2 and every symbol is 0 or 1.
inline bool all_bits(Symbols s) {
    std::uint8_t seen = 0;
    for (std::size_t i = 0; i < s.n; ++i) seen |= s.data[i];
    return s.k == 2 && seen <= 1;
}

// Throws std::invalid_argument unless all_bits(s): the estimators index tables
// by bits, so a stray byte must not get that far.
inline void require_bits(Symbols s, const char* estimate) {
    if (!all_bits(s)) throw std::invalid_argument(std::string("the ") + estimate + " estimate takes bits");
}

}  // namespace veltrane::sp800_90b
