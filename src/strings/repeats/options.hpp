// The options of the repeats search and their checks.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace veltrane::strings::repeats {

// The rank order, descending: "savings" by ((g - 1) * length, length, g), the
// elements a compressor saves by storing the fragment once; "coverage" by
// (g * length, length, g), the order of the fragment search. Ties: the earlier
// first occurrence first.
enum class Rank { savings, coverage };

struct Options {
    std::optional<std::uint64_t> top = 20;  // at most this many fragments; none: all
    std::uint64_t min_count = 2;            // least greedy non-overlapping count
    std::uint64_t min_length = 4;
    std::optional<std::uint64_t> max_length;  // none: no upper bound
    Rank rank = Rank::savings;
    bool maximal = true;           // no one-element extension has the same count
    bool exclude_periodic = true;  // smallest period p > length / 2
    std::optional<double> min_entropy;  // bits per element of the fragment's own element counts
    bool non_overlap = true;            // no fragment shares a position with one ranked above it
    std::optional<std::uint64_t> max_starts;  // starts stored per fragment; none: all
};

// "savings" or "coverage"; anything else throws std::invalid_argument.
Rank parse_rank(std::string_view name);
std::string_view rank_name(Rank rank);

// Throws std::invalid_argument, with the message a user sees, for a value
// outside its domain.
void validate(const Options& options);

}  // namespace veltrane::strings::repeats
