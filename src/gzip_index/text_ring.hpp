// The tail of a growing text: inflate writes straight into it, and the last
// WINDOW_SIZE bytes are always there to copy into a checkpoint.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace veltrane::gzip_index {

class TextRing {
public:
    TextRing();

    // Where the next bytes go: never empty. Writing there overwrites only text
    // older than the last WINDOW_SIZE bytes.
    std::span<std::uint8_t> space() noexcept;
    // `n` bytes (at most space().size()) were written at space().
    void advance(std::size_t n) noexcept;
    // Bytes written so far.
    std::uint64_t total() const noexcept { return total_; }
    // A copy of the last `n` bytes; n <= min(total(), WINDOW_SIZE).
    std::vector<std::uint8_t> last(std::size_t n) const;

private:
    std::vector<std::uint8_t> ring_;
    std::size_t head_ = 0;
    std::uint64_t total_ = 0;
};

}  // namespace veltrane::gzip_index
