// The exact length of libbz2's output, without producing it.
//
// NIST SP 800-90B's IID test compresses the samples' decimal text with libbz2
// (BZ2_bzBuffToBuffCompress, block size 5, work factor 30) and takes the
// output's length in bytes as a statistic, on the data and on up to 10,000
// shuffles of it. Only the length matters there, so no CRC is computed and no
// bit is written: each block's rotations are sorted and its symbols counted,
// and the length follows from the encoder's choices (see format.hpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "bz2_length/workspace.hpp"

namespace veltrane::bz2_length {

// The length in bytes of libbz2's output for text[0..n) at block size `level`
// (1..9, hundreds of kB per block) and work factor 30. Throws
// std::invalid_argument for another level.
std::uint64_t compressed_length(const std::uint8_t* text, std::size_t n, int level, Workspace& ws);

// The same for the text of values[0..n) written as decimal integers separated
// by single spaces ("0 17 255", no trailing space), computed from the values:
// the text is never written out except for a block too short to hold a space.
std::uint64_t decimal_text_length(const std::uint8_t* values, std::size_t n, int level, Workspace& ws);

}  // namespace veltrane::bz2_length
