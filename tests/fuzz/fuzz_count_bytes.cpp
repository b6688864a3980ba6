// libFuzzer target: the byte histogram against a plain counting loop.
//
// The input is a small header and a pattern. The header chooses the length of
// the buffer (the pattern tiled over it, up to a few MiB so that the parallel
// path, its chunk edges and its checkpoint spans are all reached) and where in
// an over-allocated block it starts, so unaligned starts are covered too. Any
// difference between the three counts, or any sanitizer report, is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

#include "util/count_bytes.hpp"

namespace {

constexpr std::size_t MAX_LENGTH = std::size_t{3} << 20;

[[noreturn]] void mismatch(const char* which, std::size_t length, std::size_t value) {
    std::fprintf(stderr, "%s differs from the plain loop: length %zu, byte value %zu\n", which, length, value);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    if (size < 4) return -1;  // not a meaningful input: keep it out of the corpus
    // Length: a multiple of the chunk size (0..47 chunks) plus a remainder, so
    // the edges of chunks, pieces and the parallel threshold are all likely.
    const std::size_t chunks = input[0] % 48;
    const std::size_t remainder = (static_cast<std::size_t>(input[1]) << 8 | input[2]) * (input[3] >> 4 ? 1 : 257);
    const std::size_t length = std::min(MAX_LENGTH, chunks * veltrane::util::COUNT_CHUNK_SIZE + remainder);
    const std::size_t offset = input[3] & 15;
    const std::uint8_t* pattern = input + 4;
    const std::size_t pattern_size = size - 4;

    std::vector<std::uint8_t> block(length + offset);
    std::uint8_t* data = block.data() + offset;
    if (length == 0) {
        // nothing to fill: an empty input (data may be null)
    } else if (pattern_size == 0) {
        std::memset(data, 0xA5, length);
    } else {
        for (std::size_t i = 0; i < length; i += pattern_size) {
            std::memcpy(data + i, pattern, std::min(pattern_size, length - i));
        }
    }

    veltrane::util::ByteHistogram expected{};
    for (std::size_t i = 0; i < length; ++i) ++expected[data[i]];
    const auto parallel = veltrane::util::count_bytes(data, length);
    const auto sequential = veltrane::util::count_bytes_sequential(data, length);
    for (std::size_t v = 0; v < 256; ++v) {
        if (parallel[v] != expected[v]) mismatch("count_bytes", length, v);
        if (sequential[v] != expected[v]) mismatch("count_bytes_sequential", length, v);
    }
    return 0;
}
