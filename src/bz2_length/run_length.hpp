// The encoder's first stage on arbitrary bytes, and where it closes blocks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bz2_length/format.hpp"

namespace veltrane::bz2_length {

// Cuts text[0..n) into the blocks the encoder compresses. Each step of the
// stage writes a run of 1 to 3 equal bytes as it is, or a run of 4 to 255 as
// the byte four times and the count beyond four (longer runs are split at 255).
// A block closes after the step that brings it to `capacity` bytes or more,
// provided input remains, and more than one byte of it (a lone last byte joins
// the block); a run is never split between blocks except at its 255-byte steps.
// (This is BZ2_bzBuffToBuffCompress; compressing the same input in a stream
// that is flushed only at its end, as Python's bz2 module does, closes the
// block before a lone last byte.)
class RunLengthBlocks {
public:
    RunLengthBlocks(const std::uint8_t* text, std::size_t n, std::size_t capacity)
        : text_(text), n_(n), capacity_(capacity) {}

    // Writes the next block (at most capacity + BLOCK_OVERRUN bytes) to `out`;
    // returns its size, 0 once the input is used up.
    std::size_t next(std::uint8_t* out);

private:
    const std::uint8_t* text_;
    std::size_t n_;
    std::size_t capacity_;
    std::size_t at_ = 0;
};

}  // namespace veltrane::bz2_length
