#include "util/count_bytes.hpp"

#include <cstring>

#include "pool/cancel.hpp"
#include "pool/pool.hpp"
#include "util/byte_lanes.hpp"

namespace veltrane::util {

namespace {

constexpr std::size_t SMALL_INPUT = 1024;
// Bytes counted between two checkpoints of a parallel count: a whole number of
// chunks, large enough that merging the lanes costs nothing measurable.
constexpr std::size_t CHECKPOINT_SPAN = 16 * COUNT_CHUNK_SIZE;

}  // namespace

// Below SMALL_INPUT a plain loop: clearing and merging the lanes would cost more.
void count_block(const std::uint8_t* data, std::size_t n, ByteHistogram& hist) {
    if (n < SMALL_INPUT) {
        for (std::size_t i = 0; i < n; ++i) ++hist[data[i]];
        return;
    }
    ByteLanes lanes;
    lanes.count(data, n);
    lanes.add_to(hist);
}

namespace {

void add_into(ByteHistogram& into, const ByteHistogram& from) {
    for (std::size_t v = 0; v < 256; ++v) into[v] += from[v];
}

}  // namespace

ByteHistogram count_bytes_sequential(const std::uint8_t* data, std::size_t n) {
    ByteHistogram hist{};
    constexpr std::size_t BLOCK = std::size_t{1} << 30;  // keeps every lane below 2^32
    for (std::size_t start = 0; start < n; start += BLOCK) {
        count_block(data + start, std::min(BLOCK, n - start), hist);
    }
    return hist;
}

ByteHistogram count_bytes(const std::uint8_t* data, std::size_t n) {
    if (n < PARALLEL_COUNT_THRESHOLD) return count_bytes_sequential(data, n);
    const std::size_t chunks = (n + COUNT_CHUNK_SIZE - 1) / COUNT_CHUNK_SIZE;
    return pool::parallel_reduce(
        chunks, ByteHistogram{},
        [&](ByteHistogram& acc, std::size_t first, std::size_t last) {
            // A piece is a run of whole chunks, counted a few chunks at a time so
            // that a stop request is seen within about a millisecond.
            const std::size_t end = std::min(last * COUNT_CHUNK_SIZE, n);
            for (std::size_t begin = first * COUNT_CHUNK_SIZE; begin < end; begin += CHECKPOINT_SPAN) {
                pool::checkpoint();
                count_block(data + begin, std::min(CHECKPOINT_SPAN, end - begin), acc);
            }
        },
        [](ByteHistogram& earlier, ByteHistogram&& later) { add_into(earlier, later); });
}

}  // namespace veltrane::util
