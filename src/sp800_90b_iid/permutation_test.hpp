// The permutation test of the IID track (SP 800-90B section 5.1): the 19
// statistics of the samples against those of up to 10,000 shuffles of them.
//
// The shuffles are NIST's tool's: Fisher-Yates from the end, each round
// shuffling the arrangement the previous round left, drawing from one
// xoshiro256** stream. After each round, every statistic still under test
// counts whether the shuffle's value lies above (C0), at (C1) or below (C2)
// the original's, and leaves the test once C0 + C1 > 5 and C1 + C2 > 5; the
// rounds end when none is left. A statistic fails if at the end C0 + C1 <= 5 or
// C1 + C2 <= 5.
//
// The rounds' statistics are computed side by side on the worker pool while
// one worker at a time shuffles ahead, and counted strictly in round order, so
// the counters are those of the tool on one thread, whatever the thread count.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "sp800_90b_iid/samples.hpp"
#include "sp800_90b_iid/statistics.hpp"
#include "sp800_90b_iid/xoshiro.hpp"

namespace veltrane::sp800_90b::iid {

inline constexpr std::uint64_t MAX_ROUNDS = 10000;
// A statistic leaves the test once both its sides have more than this.
inline constexpr std::uint64_t ENOUGH = 5;

struct PermutationTest {
    Values original{};
    // counters[s] = {C0, C1, C2} of statistic s.
    std::array<std::array<std::uint64_t, 3>, STATISTICS> counters{};
    std::uint64_t rounds = 0;
    Mask failed = 0;
    bool passed() const noexcept { return failed == 0; }
};

// `raw`: the n samples `facts` describe, unchanged during the call. The
// shuffles draw from `rng`, which is left where the last round counted left
// it (a later test may go on drawing from it, as the tool's does).
// `rounds_counted`, if given, follows the rounds counted so far (written
// atomically), for a caller's progress display.
// Throws pool::Cancelled when stopped, std::bad_alloc when memory runs out.
PermutationTest permutation_test(const SampleFacts& facts, const std::uint8_t* raw, Xoshiro256& rng,
                                 std::uint64_t max_rounds = MAX_ROUNDS, std::uint64_t* rounds_counted = nullptr);

}  // namespace veltrane::sp800_90b::iid
