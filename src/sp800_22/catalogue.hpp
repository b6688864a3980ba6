// The fifteen tests of SP 800-22, in the order NIST's program numbers and
// reports them, with the names both spellings use and the number of p-values
// each gives a sequence. Every other list of the tests derives from this one.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace veltrane::sp800_22 {

enum class Test : unsigned {
    frequency,
    block_frequency,
    cumulative_sums,
    runs,
    longest_run,
    rank,
    dft,
    non_overlapping_template,
    overlapping_template,
    universal,
    approximate_entropy,
    random_excursions,
    random_excursions_variant,
    serial,
    linear_complexity,
};

inline constexpr unsigned TEST_COUNT = 15;

struct TestName {
    std::string_view name;     // ours: the Python keyword and JSON key
    std::string_view program;  // the folder and report label of NIST's program
};

inline constexpr std::array<TestName, TEST_COUNT> TEST_NAMES = {{
    {"frequency", "Frequency"},
    {"block_frequency", "BlockFrequency"},
    {"cumulative_sums", "CumulativeSums"},
    {"runs", "Runs"},
    {"longest_run", "LongestRun"},
    {"rank", "Rank"},
    {"dft", "FFT"},
    {"non_overlapping_template", "NonOverlappingTemplate"},
    {"overlapping_template", "OverlappingTemplate"},
    {"universal", "Universal"},
    {"approximate_entropy", "ApproximateEntropy"},
    {"random_excursions", "RandomExcursions"},
    {"random_excursions_variant", "RandomExcursionsVariant"},
    {"serial", "Serial"},
    {"linear_complexity", "LinearComplexity"},
}};

inline constexpr unsigned index_of(Test t) { return static_cast<unsigned>(t); }
inline constexpr std::uint32_t bit_of(Test t) { return std::uint32_t{1} << index_of(t); }
inline constexpr std::uint32_t ALL_TESTS = (std::uint32_t{1} << TEST_COUNT) - 1;

// The states the random excursions tests look at: -4..-1, 1..4 and -9..-1, 1..9.
inline constexpr unsigned EXCURSION_STATES = 8;
inline constexpr unsigned VARIANT_STATES = 18;
inline constexpr int excursion_state(unsigned i) { return i < 4 ? static_cast<int>(i) - 4 : static_cast<int>(i) - 3; }
inline constexpr int variant_state(unsigned i) { return i < 9 ? static_cast<int>(i) - 9 : static_cast<int>(i) - 8; }

// A pass at the first level: p >= alpha.
inline constexpr double ALPHA = 0.01;

}  // namespace veltrane::sp800_22
