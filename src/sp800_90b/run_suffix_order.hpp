// The suffix order of bits that come in long runs (strongly correlated
// sources), induced from the order of the suffixes that start a run.
//
// A suffix starting a places before the end of a run of b is b^a followed by
// the suffix that starts the next run, or the end of the text. So the suffixes
// starting with 0 are the 0s of the last run, if it is of 0s, shortest first
// (each is a prefix of the others and of every 0^a 1 ...), then those of
// each a from the longest run's down to 1 (0^a 1 ... sorts before 0^(a-1) 1
// ...), each ordered as the run starts that follow them; the suffixes starting
// with 1 are those of each a from 1 up, 1^a at the very end (if the last run
// is of 1s) before 1^a 0 .... Sorting the run starts (one suffix in ten of a
// source that keeps its bit nine times in ten) and placing the rest by counts
// replaces most of the sorting, whose keys of 64 bits tell few such suffixes
// apart.
#pragma once

#include <cstdint>
#include <optional>

#include "sp800_90b/packed_suffixes.hpp"
#include "util/big_array.hpp"

namespace veltrane::sp800_90b {

// The number of runs of bits[0..n) (0 or 1 each).
std::uint64_t run_count(const std::uint8_t* bits, std::uint64_t n);

// The suffix array of all n suffixes of `bits` (packed as `packed`), n below
// 2^32 - 1; empty when sorting the run starts compares more than `budget`
// words (repetitive data). On the pool.
std::optional<util::BigArray<std::uint32_t>> induced_suffix_array(const std::uint8_t* bits, const PackedSuffixes& packed,
                                                                 std::uint64_t budget);

}  // namespace veltrane::sp800_90b
