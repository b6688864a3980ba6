// The blocks of the decimal text of sample values ("0 17 255"), found without
// writing the text out.
//
// No byte repeats 4 times in such text, so the encoder's run-length stage only
// ever writes runs of 1 to 3 equal digits as they are; a block closes after
// `capacity` bytes, extended to the end of a run of equal digits that the
// capacity would split, and only when more than one byte of text remains (see
// run_length.hpp).
//
// A block that holds a space is, read cyclically, a sequence of tokens each
// followed by one space: the values wholly inside it, then the token where its
// end meets its start (the digits it ends with, then those it starts with;
// possibly empty, possibly no value's spelling).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bz2_length/decimal_tokens.hpp"

namespace veltrane::bz2_length {

struct DecimalBlock {
    std::size_t length = 0;  // bytes of text
    std::size_t values = 0;  // values wholly inside it (with a space)
    bool has_space = false;
    // With a space: the token where the block's end meets its start. Without
    // one (only a last block can lack it): the block's text.
    Token wrap;
};

class DecimalBlocks {
public:
    DecimalBlocks(const std::uint8_t* values, std::size_t n, std::size_t capacity)
        : values_(values), n_(n), capacity_(capacity) {}

    // The next block; the first block.values elements of `tokens` receive the
    // values wholly inside it (it is sized once for any block). False at the
    // end of the text.
    bool next(std::vector<std::uint16_t>& tokens, DecimalBlock& block);

private:
    const std::uint8_t* values_;
    std::size_t n_;
    std::size_t capacity_;
    std::size_t value_ = 0;  // the value the next block starts in
    int offset_ = 0;         // how many of its digits the blocks before took (its length: the space after it)
};

}  // namespace veltrane::bz2_length
