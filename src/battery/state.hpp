// The mergeable state of a byte range: every exact integer the randomness
// battery is computed from, and nothing that depends on byte or bit mode.
//
// A state describes the bytes [start, start + size) of some whole input.
// States of consecutive ranges merge into exactly the state of their
// concatenation, whatever the split points, so one input can be measured in
// pieces (chunks of a parallel pass, files on different machines) and finished
// once. Monte Carlo groups are aligned to multiples of 6 from the start of the
// whole input, which is why a state knows its absolute start: the bytes of a
// group cut by either end of the range wait in `lead` and `trail` until a
// merge completes the group.
#pragma once

#include <array>
#include <cstdint>

#include "util/count_bytes.hpp"

namespace veltrane::battery {

// Sums of products of adjacent bytes reach 255^2 * n, past 64 bits from about
// 2.8e14 bytes on.
__extension__ typedef unsigned __int128 UInt128;

// Bytes per Monte Carlo group: two 24-bit big-endian coordinates.
inline constexpr std::uint64_t MC_GROUP = 6;

struct State {
    std::uint64_t start = 0;   // offset of the range's first byte in the whole input
    std::uint64_t size = 0;    // bytes in the range; start + size never exceeds 2^64 - 1
    bool case_folded = false;  // the bytes were case-folded first (ent -f); pieces must agree
    util::ByteHistogram histogram{};
    UInt128 adjacent_products = 0;       // sum of b[i] * b[i+1] over the pairs inside the range
    std::uint64_t seam_bit_pairs = 0;    // pairs inside the range with b[i] odd and b[i+1] >= 128
    std::uint8_t first = 0, last = 0;    // the range's end bytes (0 when empty)
    std::uint64_t mc_groups = 0;         // complete aligned groups inside the range
    std::uint64_t mc_hits = 0;           // of those, inside the quarter circle
    std::array<std::uint8_t, 5> lead{};  // bytes of a group begun before `start`: lead_length() of them
    std::array<std::uint8_t, 5> trail{}; // bytes of a group that continues past the end: trail_length()
};

// The lengths of a range's cut groups and its number of complete groups: all
// follow from where the range lies.
std::uint64_t lead_length(std::uint64_t start, std::uint64_t size);
std::uint64_t trail_length(std::uint64_t start, std::uint64_t size);
std::uint64_t complete_groups(std::uint64_t start, std::uint64_t size);

// True when the 6 bytes at `group` are a point inside the quarter circle:
// x = bytes 0-2, y = bytes 3-5 (big-endian), x^2 + y^2 <= (2^24 - 1)^2.
inline bool mc_hit(const std::uint8_t* group) {
    constexpr std::uint64_t RADIUS_SQUARED = ((std::uint64_t{1} << 24) - 1) * ((std::uint64_t{1} << 24) - 1);
    const std::uint64_t x = std::uint64_t{group[0]} << 16 | std::uint64_t{group[1]} << 8 | group[2];
    const std::uint64_t y = std::uint64_t{group[3]} << 16 | std::uint64_t{group[4]} << 8 | group[5];
    return x * x + y * y <= RADIUS_SQUARED;
}

// An empty range at `start`: the identity of merges there.
State empty_state(std::uint64_t start, bool case_folded = false);

// Appends the state of the range that follows `earlier` directly. Throws
// std::invalid_argument when `later` does not start where `earlier` ends or
// the two disagree on case folding; `earlier` is then unchanged. O(256).
void append(State& earlier, const State& later);

// The state of the concatenation of two consecutive ranges (see append).
State merge(const State& earlier, const State& later);

}  // namespace veltrane::battery
