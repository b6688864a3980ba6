// The whole non-IID assessment of a sequence of samples: which estimators run on
// which view of the samples, side by side on the worker pool, and how their
// estimates combine into one min-entropy.
//
// The samples are one per byte, each below 2^width. They are assessed as they are
// (the "literal" track, over their distinct values renumbered 0..k-1 in sorted
// order) and, for widths above 1, as their most-significant-bit-first bitstring
// (the "bitstring" track); then H = min(H_literal, width * H_bitstring). Binary
// samples (width 1) have the literal track only, with every estimator; the
// collision, Markov and compression estimators are defined for binary data, so a
// wider literal track goes without them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "sp800_90b/estimators.hpp"

namespace veltrane::sp800_90b {

struct Track {
    MostCommonValue most_common_value;
    std::optional<Collision> collision;
    std::optional<Markov> markov;
    std::optional<Compression> compression;
    Tuples tuples;
    Prediction multi_mcw, lag, multi_mmc, lz78y;
    // The least estimate of the track (the ones that ran).
    double min_entropy = 0;
};

struct Assessment {
    std::uint64_t samples = 0;
    unsigned width = 0;     // bits per sample, declared or inferred
    unsigned distinct = 0;  // k, the number of distinct values
    // Whether the literal track renumbered the values (they were not 0..k-1 already).
    bool translated = false;
    Track literal;
    std::optional<Track> bitstring;  // for widths above 1
    double h_original = 0;            // the literal track's estimate
    std::optional<double> h_bitstring;
    double min_entropy = 0;  // min(h_original, width * h_bitstring)
};

// How far an assessment has come, for a caller's progress display: estimator
// runs finished out of all it makes. Written atomically (8-byte aligned words)
// by the workers as they finish, so another thread may read them meanwhile.
struct Progress {
    std::uint64_t* finished = nullptr;
    std::uint64_t* total = nullptr;
};

// The widths the assessment accepts: 1 to 8 bits, one sample per byte.
inline constexpr unsigned MAX_WIDTH = 8;

// The width the samples need: bits of the largest value (1 for all zeros).
unsigned inferred_width(const std::uint8_t* data, std::size_t n);

// The width the samples are declared to have (1 to 8), else the one they need.
// Throws std::invalid_argument for empty data, a width outside 1..8, or a
// sample of `declared` bits or more.
unsigned checked_width(const std::uint8_t* data, std::size_t n, std::optional<unsigned> declared);

// Throws std::invalid_argument for empty data, a width outside 1..8, or a sample
// of `width` bits or more. Throws pool::Cancelled when stopped, std::bad_alloc
// when memory runs out. The restart tests assess the samples as they are only
// (Tracks::LITERAL_ONLY: no bitstring track).
enum class Tracks { BOTH, LITERAL_ONLY };
Assessment assess(const std::uint8_t* data, std::size_t n, std::optional<unsigned> width, Progress progress = {},
                  Tracks tracks = Tracks::BOTH);

}  // namespace veltrane::sp800_90b
