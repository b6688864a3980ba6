// The suite over many sequences: each sequence's tests run side by side on
// the worker pool, a chunk of sequences at a time, so that memory holds a few
// sequences whatever the input's size. The figures of a sequence do not
// depend on the number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sp800_22/bits.hpp"
#include "sp800_22/figures.hpp"
#include "sp800_22/plan.hpp"

namespace veltrane::sp800_22 {

struct SequenceFigures {
    std::uint64_t ones = 0;
    std::optional<FrequencyFigures> frequency;
    std::optional<BlockFrequencyFigures> block_frequency;
    std::optional<CumulativeSumsFigures> cumulative_sums;
    std::optional<RunsFigures> runs;
    std::optional<LongestRunFigures> longest_run;
    std::optional<RankFigures> rank;
    std::optional<DftFigures> dft;
    std::optional<NonOverlappingFigures> non_overlapping_template;
    std::optional<OverlappingFigures> overlapping_template;
    std::optional<UniversalFigures> universal;
    std::optional<ApproximateEntropyFigures> approximate_entropy;
    std::optional<RandomExcursionsFigures> random_excursions;
    std::optional<RandomExcursionsVariantFigures> random_excursions_variant;
    std::optional<SerialFigures> serial;
    std::optional<LinearComplexityFigures> linear_complexity;
};

// Where the input is read: raw bytes (positions in bits) or ASCII text
// (positions in bytes, white space skipped).
struct Input {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    bool ascii = false;
};

// The bits of the input: 8 per byte, or its '0' and '1' characters (throws
// std::invalid_argument at the first other character that is not white space).
std::uint64_t input_bits(const Input& input);

// Runs the plan's tests on `count` sequences of plan.length bits from
// `position` on, and moves `position` past them. The input must hold them.
// `finished`, if given, is raised by one as each sequence is done (atomically:
// another thread may read it). Throws pool::Cancelled when stopped.
std::vector<SequenceFigures> run_sequences(const Plan& plan, const Input& input, std::uint64_t& position,
                                           std::uint64_t count, std::uint64_t* finished = nullptr);

// One sequence's tests, on one thread.
SequenceFigures test_sequence(const Plan& plan, const Bits& bits);

}  // namespace veltrane::sp800_22
