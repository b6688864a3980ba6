// The histogram's inner loop, for the passes that count bytes as they go.
//
// Eight counter tables break the chain of increments to one counter: a run of
// one byte value (the worst case of a plain loop) still spreads its stores
// over eight addresses. 32-bit lanes keep the tables within L1; a lane takes
// an eighth of the bytes counted, so up to 2^35 bytes fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "util/count_bytes.hpp"

namespace veltrane::util {

// How far ahead of the counting a pass asks for its input. The increments fill
// the core's window of instructions in flight, so it sees only a cache line or
// two ahead and its own prefetching does not keep up: streaming from memory
// counted 1.4 GB/s a core against 3.3 GB/s on data in the cache, and asking
// 2 KiB ahead brought the first to 3.2.
inline constexpr std::size_t PREFETCH_AHEAD = 2048;

class ByteLanes {
public:
    ByteLanes() { std::memset(lanes_, 0, sizeof lanes_); }

    // Each byte read on its own: a load unit does what shifts out of a word
    // would do on the arithmetic units that the battery's vector sums share.
    void count16(const std::uint8_t* p) {
        for (std::size_t k = 0; k < 16; ++k) ++lanes_[k % 8][p[k]];
    }
    // 64 bytes, asking for those PREFETCH_AHEAD on (a hint: it never faults,
    // past the end of the input either).
    void count64(const std::uint8_t* p) {
        __builtin_prefetch(p + PREFETCH_AHEAD);
        for (std::size_t q = 0; q < 64; q += 16) count16(p + q);
    }
    // Any number of bytes: 64 at a time, then the rest.
    void count(const std::uint8_t* p, std::size_t n) {
        std::size_t i = 0;
        for (; i + 64 <= n; i += 64) count64(p + i);
        for (; i + 16 <= n; i += 16) count16(p + i);
        for (; i < n; ++i) ++lanes_[0][p[i]];
    }
    void add_to(ByteHistogram& hist) const {
        for (std::size_t v = 0; v < 256; ++v) {
            std::uint64_t sum = 0;
            for (std::size_t k = 0; k < 8; ++k) sum += lanes_[k][v];
            hist[v] += sum;
        }
    }

private:
    alignas(64) std::uint32_t lanes_[8][256];
};

}  // namespace veltrane::util
