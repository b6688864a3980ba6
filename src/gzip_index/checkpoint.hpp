// What a survey of a gzip file finds, and what a reader needs to start in the
// middle of it.
//
// A checkpoint sits at a deflate block boundary. Deflate blocks are not
// byte-aligned, so the boundary is a byte offset plus the bits of the byte
// before it that belong to the next block; and the blocks after it may copy
// from up to 32 KiB of text before it, which the checkpoint carries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace veltrane::gzip_index {

// The longest distance a deflate back-reference can reach.
inline constexpr std::size_t WINDOW_SIZE = 32768;

struct Checkpoint {
    std::uint64_t position = 0;  // in the uncompressed text
    std::uint64_t offset = 0;    // of the first compressed byte a reader feeds
    unsigned bits = 0;           // 0..7 unread bits of the byte before `offset`...
    unsigned value = 0;          // ...and their value, low bits first (inflatePrime's arguments)
    std::vector<std::uint8_t> window;  // the min(WINDOW_SIZE, position) bytes before `position`

    bool operator==(const Checkpoint&) const = default;
};

// Either an index (`reason` empty) or why the file cannot be indexed.
struct SurveyResult {
    std::string reason;
    std::uint64_t size = 0;  // uncompressed bytes
    std::vector<Checkpoint> checkpoints;

    bool indexable() const noexcept { return reason.empty(); }
};

}  // namespace veltrane::gzip_index
