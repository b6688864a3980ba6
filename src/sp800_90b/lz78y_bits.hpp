// LZ78Y's predictions on bits, with flat tables (lz78y_bits.cpp); lz78y.cpp has
// the wider symbols' dictionary and the entry point.
#pragma once

#include <cstddef>

#include "estimators.hpp"
#include "prediction_result.hpp"

namespace veltrane::sp800_90b {

namespace lz78y_limits {
inline constexpr unsigned LONGEST = 16;             // the longest context
inline constexpr std::size_t MAX_CONTEXTS = 65536;  // the dictionary's bound
}  // namespace lz78y_limits

// The predictions of data[17..n) (n > 17, every symbol 0 or 1) into `tally`,
// with successor counts of type Count (wide enough for n: counters.hpp).
template <class Count>
void play_lz78y_bits(Symbols s, CorrectTally& tally);

}  // namespace veltrane::sp800_90b
