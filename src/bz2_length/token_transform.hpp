// The sorted-rotation output of a decimal block, from its tokens.
//
// Every rotation starts in some token: at a suffix s of its digits (the whole
// token, a part, or none, at its space), followed by the space and the rotation
// that starts at the next token. Rotations therefore sort by s (followed by a
// space: string order, a string before its extensions), then by the rank of the
// next token's rotation; and those are the rotations of the token sequence,
// with tokens ranked in string order. So the tokens' rotations are sorted once
// and dealt out into one bucket per suffix string; the byte before a rotation
// is the space when s is the whole token, else the digit before s.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bz2_length/decimal_blocks.hpp"

namespace veltrane::bz2_length {

struct Workspace;

struct Letters {
    int alphabet = 0;  // distinct bytes: the space and the digits present
    int ranges = 0;    // ranges of 16 byte values they fall in
};

// The transform output of a block with a space: its values wholly inside,
// tokens[0..count), then block.wrap. Writes block.length letters to ws.letters
// (bytes renumbered in byte order: the space 0, then the digits present).
Letters token_letters(const std::uint16_t* tokens, std::size_t count, const DecimalBlock& block, Workspace& ws);

}  // namespace veltrane::bz2_length
