// How the members of a gzip file follow one another, as Python's gzip module
// reads them: members back to back, their texts concatenated, and runs of zero
// bytes allowed after any member (never before the first one).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace veltrane::gzip_index {

// zlib's window-bits arguments: a gzip member with its header and checked
// trailer, and bare deflate data (no header, no trailer, no check).
inline constexpr int GZIP_WBITS = 15 + 16;
inline constexpr int RAW_WBITS = -15;

// CRC-32 and length modulo 2^32, after each member's deflate data.
inline constexpr std::size_t TRAILER_SIZE = 8;

// The number of zero bytes `bytes` starts with.
inline std::size_t leading_zeros(std::span<const std::uint8_t> bytes) noexcept {
    return static_cast<std::size_t>(std::find_if(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b != 0; }) -
                                    bytes.begin());
}

}  // namespace veltrane::gzip_index
