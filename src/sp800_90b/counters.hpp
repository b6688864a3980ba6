// The counter type of multi_mmc's and lz78y's successor counts. A count never
// exceeds n, and multi_mmc on bits keeps twice a count plus one, so 32 bits hold
// them below 2^31 samples; from there on they are 64-bit (twice the tables'
// memory, so only where needed). The entry points
// taking Counters let the tests run the wide path on small inputs.
#pragma once

#include <cstdint>

#include "estimators.hpp"
#include "prediction_result.hpp"

namespace veltrane::sp800_90b {

enum class Counters { fitted, wide };

// Where bits are counted: in the flat tables made for them, with the widest
// vector instructions the processor has; for the tests, in the same tables
// with the baseline instructions only, or in the dictionaries of wider symbols
// (the same figures by other means).
enum class BitTables { flat, portable, dictionary };

// Calls run.template operator()<Count>() with the counter type for n.
template <class Run>
void with_counters(std::size_t n, Counters c, Run&& run) {
    if (c == Counters::wide || n >= (std::uint64_t{1} << 31)) {
        run.template operator()<std::uint64_t>();
    } else {
        run.template operator()<std::uint32_t>();
    }
}

// The frame both dictionary predictors share: the first `skipped` samples are not
// predicted (N = n - skipped, or none), play.template operator()<Count>(tally)
// counts the right predictions with the counter type for n, then the final step.
template <class Play>
Prediction predict_counted(Symbols s, Counters c, std::size_t skipped, Play&& play) {
    const std::size_t n = s.n > skipped ? s.n - skipped : 0;
    CorrectTally tally;
    if (n > 0) with_counters(s.n, c, [&]<class Count>() { play.template operator()<Count>(tally); });
    return prediction_result(tally, n, s.k);
}

Prediction multi_mmc(Symbols s, Counters c, BitTables b = BitTables::flat);
// `portable`: without the vector instructions beyond the baseline (the tests).
Prediction lag(Symbols s, bool portable);
Prediction lz78y(Symbols s, Counters c, BitTables b = BitTables::flat);

}  // namespace veltrane::sp800_90b
