// MultiMMC's predictions on bits, with a flat table per order
// (multi_mmc_bits.cpp); multi_mmc.cpp has the wider symbols' dictionaries and
// the entry point.
#pragma once

#include <cstddef>

#include "estimators.hpp"
#include "prediction_result.hpp"

namespace veltrane::sp800_90b {

namespace multi_mmc_limits {
inline constexpr unsigned ORDERS = 16;                // orders 1..16
inline constexpr std::size_t MAX_PAIRS = 100000;      // (context, successor) pairs an order admits
}  // namespace multi_mmc_limits

// The predictions of data[2..n) (n > 2, every symbol 0 or 1) into `tally`,
// with successor counts of type Count (wide enough for n: counters.hpp);
// `portable`: without the vector instructions beyond the baseline.
template <class Count>
void play_mmc_bits(Symbols s, CorrectTally& tally, bool portable);

}  // namespace veltrane::sp800_90b
