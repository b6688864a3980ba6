// Inflating a gzip file from a checkpoint to its end, without the text before.
//
// The member the checkpoint lies in is inflated as bare deflate data (its
// header is behind us, and its CRC covers text we never see, so its trailer is
// skipped unchecked); every member after it is inflated as gzip, its CRC and
// length checked. Input and output come in the style of Python's
// bz2.BZ2Decompressor: the caller hands over compressed bytes as it reads them
// and takes at most as much text as it has room for; input not yet used is
// kept for the next call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "gzip_index/checkpoint.hpp"
#include "gzip_index/inflater.hpp"

namespace veltrane::gzip_index {

// The compressed bytes are not what the survey saw: the file changed since.
struct DataError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Reader {
public:
    // Throws std::invalid_argument when the checkpoint cannot be one a survey
    // made (bits above 7, a value wider than its bits, a window of the wrong size).
    explicit Reader(const Checkpoint& from);

    // Takes `input` (the compressed bytes following those given before, the
    // first at the checkpoint's offset) and writes up to out.size() bytes of
    // text to `out`; returns how many. Throws DataError on corrupt data,
    // std::logic_error after finish(), pool::Cancelled when interrupted.
    std::size_t decompress(std::span<const std::uint8_t> input, std::span<std::uint8_t> out);
    // Whether decompress() needs more input to go on: false while input is kept
    // or the last call filled its output (more text may be waiting).
    bool needs_input() const noexcept { return pending_.empty() && !output_filled_; }
    // The input has ended (call when needs_input()). Throws DataError unless the
    // file may end here, else sets eof().
    void finish();
    bool eof() const noexcept { return phase_ == Phase::ended; }

private:
    enum class Phase { resumed_member, trailer, between_members, next_member, ended };

    // One step on `in` into `out`, both advanced; false when it cannot go on without input.
    bool step(std::span<const std::uint8_t>& in, std::span<std::uint8_t>& out);
    bool inflate_some(std::span<const std::uint8_t>& in, std::span<std::uint8_t>& out);

    Inflater inflater_;
    Phase phase_ = Phase::resumed_member;
    std::size_t trailer_left_ = 0;
    std::uint64_t consumed_ = 0;  // compressed bytes taken since the checkpoint
    std::vector<std::uint8_t> pending_;
    bool output_filled_ = false;
};

}  // namespace veltrane::gzip_index
