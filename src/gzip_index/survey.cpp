#include "gzip_index/survey.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "gzip_index/framing.hpp"
#include "pool/cancel.hpp"

namespace veltrane::gzip_index {

namespace {

// zlib counts input in 32-bit words: a larger chunk goes in slices.
constexpr std::size_t MAX_SLICE = std::size_t{1} << 30;

// inflate's data_type: the unread bits of the last byte taken, and whether it
// stopped at a block boundary of a block that was not the stream's last.
constexpr int UNUSED_BITS = 7;
constexpr int IN_LAST_BLOCK = 64;
constexpr int AT_BOUNDARY = 128;

}  // namespace

Survey::Survey(std::uint64_t spacing) : spacing_(spacing), inflater_(GZIP_WBITS) {
    if (spacing == 0) throw std::invalid_argument("the spacing of checkpoints must be positive, not 0");
}

bool Survey::feed(std::span<const std::uint8_t> chunk) {
    while (!chunk.empty() && reason_.empty()) {
        if (phase_ == Phase::between_members) {
            // Python skips zeros after a member, then wants another member or the end.
            const std::size_t zeros = leading_zeros(chunk);
            consumed_ += zeros;
            chunk = chunk.subspan(zeros);
            if (chunk.empty()) break;
            inflater_.reset(GZIP_WBITS);
        }
        phase_ = Phase::in_member;
        chunk = chunk.subspan(inflate_member(chunk.first(std::min(chunk.size(), MAX_SLICE))));
    }
    return reason_.empty();
}

std::size_t Survey::inflate_member(std::span<const std::uint8_t> input) {
    z_stream& s = inflater_.stream();
    s.next_in = const_cast<Bytef*>(input.data());  // zlib's API is not const-correct; it only reads
    s.avail_in = static_cast<uInt>(input.size());
    for (;;) {
        const std::span<std::uint8_t> space = text_.space();
        s.next_out = space.data();
        s.avail_out = static_cast<uInt>(space.size());
        const uInt in_before = s.avail_in;
        // Z_BLOCK: stop at every block boundary, so that each can be looked at.
        const int status = inflater_.inflate(Z_BLOCK);
        const std::size_t taken = in_before - s.avail_in;
        if (taken > 0) last_byte_ = s.next_in[-1];
        consumed_ += taken;
        text_.advance(space.size() - s.avail_out);
        if (status == Z_STREAM_END) {
            phase_ = Phase::between_members;
            break;
        }
        if (status != Z_OK && status != Z_BUF_ERROR) {
            refuse(std::string("not a valid gzip file near compressed byte ") + std::to_string(consumed_) + ": " +
                   inflater_.message("zlib refused the data"));
            break;
        }
        const int type = s.data_type;
        const bool boundary = (type & AT_BOUNDARY) != 0 && (type & IN_LAST_BLOCK) == 0;
        if (boundary) at_block_boundary(static_cast<unsigned>(type & UNUSED_BITS));
        // A boundary reached with no input left may still be followed by a block
        // the bits held decode alone; anything else with output room wants input.
        if (s.avail_in == 0 && s.avail_out != 0 && !boundary) break;
        if (status == Z_BUF_ERROR && s.avail_out != 0 && !boundary) {
            refuse("zlib made no progress on the data");
            break;
        }
        pool::checkpoint();
    }
    return input.size() - s.avail_in;
}

void Survey::at_block_boundary(unsigned bits) {
    const std::uint64_t position = text_.total();
    // position >= next_k_ * spacing_, without the product's overflow.
    if (position / spacing_ < next_k_) return;
    Checkpoint c;
    c.position = position;
    c.offset = consumed_;
    c.bits = bits;
    // The unread bits are the high ones: deflate fills bytes from the low bit up.
    c.value = bits == 0 ? 0u : static_cast<unsigned>(last_byte_ >> (8 - bits));
    c.window = text_.last(static_cast<std::size_t>(std::min<std::uint64_t>(WINDOW_SIZE, position)));
    checkpoints_.push_back(std::move(c));
    next_k_ = position / spacing_ + 1;
}

void Survey::refuse(std::string reason) {
    reason_ = std::move(reason);
    checkpoints_.clear();
}

SurveyResult Survey::finish() {
    if (reason_.empty() && phase_ == Phase::in_member) {
        refuse("truncated: the file ends inside a gzip member (at compressed byte " + std::to_string(consumed_) + ")");
    }
    SurveyResult result;
    result.reason = std::move(reason_);
    if (!result.indexable()) return result;
    result.size = text_.total();
    result.checkpoints = std::move(checkpoints_);
    // A boundary at the very end (before an empty last block or member) has no text to start.
    while (!result.checkpoints.empty() && result.checkpoints.back().position == result.size) {
        result.checkpoints.pop_back();
    }
    return result;
}

}  // namespace veltrane::gzip_index
