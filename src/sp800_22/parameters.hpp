// The tests' parameters as a caller sets them (zero where the value follows
// from the sequence length), and the settings every test function takes.
#pragma once

#include <cstdint>

namespace veltrane::sp800_22 {

struct Parameters {
    std::uint64_t block_frequency_block_length = 128;       // M
    std::uint64_t longest_run_block_length = 0;             // M: 8, 128 or 10^4; 0 picks by n
    unsigned non_overlapping_template_length = 9;           // m
    unsigned non_overlapping_blocks = 8;                    // N
    unsigned overlapping_template_length = 9;               // m
    std::uint64_t overlapping_block_length = 1032;          // M
    unsigned universal_block_length = 0;                    // L; 0 picks by n
    std::uint64_t universal_initial_blocks = 0;             // Q; 0 is 10 * 2^L
    std::uint64_t linear_complexity_block_length = 500;     // M
    unsigned serial_block_length = 16;                      // m
    unsigned approximate_entropy_block_length = 10;         // m
};

// `compatible`: reproduce NIST's program (sts 2.1.2) where it departs from the
// standard's text; otherwise follow the text.
struct Settings {
    Parameters parameters;  // resolved: no zeros left
    bool compatible = false;
};

}  // namespace veltrane::sp800_22
