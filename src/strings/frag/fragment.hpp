// The records of the repeated-fragment search.
#pragma once

#include <cstdint>
#include <vector>

namespace veltrane::strings::frag {

// One occurrence: element indices [start, end).
struct FragmentInterval {
    std::uint64_t start;
    std::uint64_t end;
};

// A fragment with at least `times` greedy non-overlapping occurrences.
struct FragmentCandidate {
    std::uint64_t covered_length;    // occurrence_count * fragment_length
    std::uint64_t fragment_length;
    std::uint64_t occurrence_count;  // == occurrences.size()
    std::vector<FragmentInterval> occurrences;  // ascending, pairwise disjoint
};

// One entry of the result; `id` is its position in the result list.
struct Fragment {
    std::uint64_t id;
    std::vector<FragmentInterval> occurrences;
};

}  // namespace veltrane::strings::frag
