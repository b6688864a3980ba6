#include "gzip_index/reader.hpp"

#include <algorithm>
#include <new>
#include <string>

#include "gzip_index/framing.hpp"
#include "pool/cancel.hpp"

namespace veltrane::gzip_index {

namespace {

// zlib counts bytes in 32-bit words: larger spans go in slices.
constexpr std::size_t MAX_SLICE = std::size_t{1} << 30;

void check_checkpoint(const Checkpoint& c) {
    if (c.bits > 7) throw std::invalid_argument("a checkpoint's bits must be from 0 to 7, not " + std::to_string(c.bits));
    if (c.value >> c.bits != 0) {
        throw std::invalid_argument("a checkpoint's value must fit in its " + std::to_string(c.bits) + " bits, not " +
                                    std::to_string(c.value));
    }
    const std::uint64_t expected = std::min<std::uint64_t>(WINDOW_SIZE, c.position);
    if (c.window.size() != expected) {
        throw std::invalid_argument("a checkpoint at position " + std::to_string(c.position) + " carries a window of " +
                                    std::to_string(expected) + " bytes, not " + std::to_string(c.window.size()));
    }
}

}  // namespace

Reader::Reader(const Checkpoint& from) : inflater_((check_checkpoint(from), RAW_WBITS)) {
    inflater_.prime(from.bits, from.value);
    inflater_.set_dictionary(from.window);
}

std::size_t Reader::decompress(std::span<const std::uint8_t> input, std::span<std::uint8_t> out) {
    if (phase_ == Phase::ended) throw std::logic_error("the reader has already reached the end of the file");
    std::span<const std::uint8_t> in = input;
    if (!pending_.empty()) {
        pending_.insert(pending_.end(), input.begin(), input.end());
        in = pending_;
    }
    const std::size_t room = out.size();
    while (!out.empty() && step(in, out)) pool::checkpoint();
    output_filled_ = room > 0 && out.empty();
    if (in.empty()) {
        pending_.clear();
    } else if (in.data() >= pending_.data() && in.data() < pending_.data() + pending_.size()) {
        pending_.erase(pending_.begin(), pending_.begin() + (in.data() - pending_.data()));
    } else {
        pending_.assign(in.begin(), in.end());
    }
    return room - out.size();
}

bool Reader::step(std::span<const std::uint8_t>& in, std::span<std::uint8_t>& out) {
    switch (phase_) {
        case Phase::resumed_member:
        case Phase::next_member:
            return inflate_some(in, out);
        case Phase::trailer: {
            const std::size_t skip = std::min(trailer_left_, in.size());
            trailer_left_ -= skip;
            consumed_ += skip;
            in = in.subspan(skip);
            if (trailer_left_ > 0) return false;
            phase_ = Phase::between_members;
            return true;
        }
        case Phase::between_members: {
            const std::size_t zeros = leading_zeros(in);
            consumed_ += zeros;
            in = in.subspan(zeros);
            if (in.empty()) return false;
            inflater_.reset(GZIP_WBITS);
            phase_ = Phase::next_member;
            return true;
        }
        case Phase::ended:
            break;
    }
    return false;
}

bool Reader::inflate_some(std::span<const std::uint8_t>& in, std::span<std::uint8_t>& out) {
    z_stream& s = inflater_.stream();
    s.next_in = const_cast<Bytef*>(in.data());  // zlib only reads it
    s.avail_in = static_cast<uInt>(std::min(in.size(), MAX_SLICE));
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(std::min(out.size(), MAX_SLICE));
    const uInt in_before = s.avail_in;
    const uInt out_before = s.avail_out;
    const int status = inflater_.inflate(Z_NO_FLUSH);
    const std::size_t taken = in_before - s.avail_in;
    const std::size_t made = out_before - s.avail_out;
    consumed_ += taken;
    in = in.subspan(taken);
    out = out.subspan(made);
    if (status == Z_STREAM_END) {
        // The resumed member's CRC covers text before the checkpoint: skip it unchecked.
        if (phase_ == Phase::resumed_member) {
            phase_ = Phase::trailer;
            trailer_left_ = TRAILER_SIZE;
        } else {
            phase_ = Phase::between_members;
        }
        return true;
    }
    if (status == Z_OK) return true;
    if (status == Z_BUF_ERROR) return false;  // no progress without more input
    if (status == Z_MEM_ERROR) throw std::bad_alloc();
    throw DataError(std::string("corrupt gzip data ") + std::to_string(consumed_) +
                    " bytes after the checkpoint (has the file changed since it was indexed?): " +
                    inflater_.message("zlib refused the data"));
}

void Reader::finish() {
    if (phase_ == Phase::ended) return;
    if (!needs_input()) throw std::logic_error("finish() called while decompress() still has input or text to give");
    if (phase_ != Phase::between_members) {
        throw DataError("truncated: the compressed data ends " + std::to_string(consumed_) +
                        " bytes after the checkpoint, inside a gzip member");
    }
    phase_ = Phase::ended;
}

}  // namespace veltrane::gzip_index
