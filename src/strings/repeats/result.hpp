// The result of the repeats search: columns of unsigned 64-bit numbers that a
// binding can hand out as buffers as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veltrane::strings::repeats {

// Candidates the search left out, by the reason it found first. A candidate is
// a fragment whose length is within [min_length, max_length] and that occurs at
// least min_count times, overlapping occurrences included; one that is not
// reported is counted once here, under the first reason the search
// establishes for it (fragments passed over for sharing a position with a
// reported one, or ranked below the last one reported, are not counted). The
// search establishes reasons in rank order and for whole ranges of lengths at
// once, so the counts cover every candidate ranked above the last reported
// fragment (without non_overlap) and may include some ranked below it; with
// top = none and non_overlap off they add up to the number of candidates less
// the number reported.
struct LeftOut {
    std::uint64_t few_non_overlapping = 0;  // fewer than min_count greedy non-overlapping occurrences
    std::uint64_t periodic = 0;             // exclude_periodic
    std::uint64_t low_entropy = 0;          // min_entropy
    std::uint64_t not_maximal = 0;          // maximal
};

// Fragment i has length lengths[i], greedy count counts[i], first occurrence
// firsts[i] and score scores[i] (by the chosen rank); its first stored starts
// are starts[offsets[i] .. offsets[i + 1]), ascending, and truncated[i] is 1
// when max_starts kept fewer than counts[i] of them. Fragments in rank order.
// 8 bytes per stored start, 41 per fragment.
struct RepeatsResult {
    std::vector<std::uint64_t> lengths;
    std::vector<std::uint64_t> counts;
    std::vector<std::uint64_t> firsts;
    std::vector<std::uint64_t> scores;
    std::vector<std::uint64_t> offsets{0};  // size() + 1 entries
    std::vector<std::uint64_t> starts;
    std::vector<std::uint8_t> truncated;
    LeftOut left_out;

    std::size_t size() const { return lengths.size(); }
};

}  // namespace veltrane::strings::repeats
