// The one parallel pass that computes a battery state from bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "battery/state.hpp"

namespace veltrane::battery {

struct PassOptions {
    // Offset of data[0] in the whole input: where Monte Carlo groups are
    // aligned from, and what a merge checks. 0 for a whole input.
    std::uint64_t start = 0;
    // Fold case first, as ent -f does (see fold_case).
    bool case_fold = false;
};

// ent -f's translation: A-Z and the Latin-1 capitals 0xC0-0xDE (except the
// multiplication sign 0xD7) get 0x20 added; every other byte is unchanged.
// Written as arithmetic so that a loop over bytes becomes vector compares.
constexpr std::uint8_t fold_case(std::uint8_t v) {
    const bool ascii_capital = static_cast<std::uint8_t>(v - 'A') < 26;
    const bool latin1_capital = static_cast<std::uint8_t>(v - 0xC0) < 31 && v != 0xD7;
    return static_cast<std::uint8_t>(v + ((ascii_capital || latin1_capital) ? 0x20 : 0));
}

// The same as a table, value by value.
extern const std::array<std::uint8_t, 256> CASE_FOLD;

// The state of data[0, n) at options.start. O(n): below
// util::PARALLEL_COUNT_THRESHOLD on the calling thread, otherwise chunks of
// util::COUNT_CHUNK_SIZE on the worker pool, joined with the same merge that
// joins any two states. The result is the same for every thread count.
// Throws std::invalid_argument if start + n passes 2^64 - 1, pool::Cancelled
// when stopped.
State measure_state(const std::uint8_t* data, std::size_t n, const PassOptions& options = {});

// The state of one block of at most 2^32 - 1 bytes on the calling thread, no
// checkpoints: the kernel of measure_state, exposed for its tests and benchmarks.
State block_state(const std::uint8_t* data, std::size_t n, std::uint64_t start);

}  // namespace veltrane::battery
