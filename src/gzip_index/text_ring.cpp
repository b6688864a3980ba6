#include "gzip_index/text_ring.hpp"

#include <algorithm>
#include <cassert>

#include "gzip_index/checkpoint.hpp"

namespace veltrane::gzip_index {

namespace {

// Several windows long, so that one inflate call can write a whole deflate
// block (typically tens of KiB) without stopping at the ring's end, and zlib
// copies only the last window of each call into its own.
constexpr std::size_t RING_SIZE = 4 * WINDOW_SIZE;

}  // namespace

TextRing::TextRing() : ring_(RING_SIZE) {}

std::span<std::uint8_t> TextRing::space() noexcept {
    if (head_ == ring_.size()) head_ = 0;
    return {ring_.data() + head_, ring_.size() - head_};
}

void TextRing::advance(std::size_t n) noexcept {
    head_ += n;
    total_ += n;
}

std::vector<std::uint8_t> TextRing::last(std::size_t n) const {
    assert(n <= WINDOW_SIZE && n <= total_);
    std::vector<std::uint8_t> out(n);
    // The last n bytes end at head_; those before the ring's start sit at its end.
    const std::size_t here = std::min(n, head_);
    const std::size_t wrapped = n - here;
    std::copy(ring_.end() - static_cast<std::ptrdiff_t>(wrapped), ring_.end(), out.begin());
    std::copy(ring_.begin() + static_cast<std::ptrdiff_t>(head_ - here), ring_.begin() + static_cast<std::ptrdiff_t>(head_),
              out.begin() + static_cast<std::ptrdiff_t>(wrapped));
    return out;
}

}  // namespace veltrane::gzip_index
