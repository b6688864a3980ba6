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

// One entry of the result; `id` is its position in the result list.
struct Fragment {
    std::uint64_t id;
    std::vector<FragmentInterval> occurrences;
};

}  // namespace veltrane::strings::frag
