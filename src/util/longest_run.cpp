#include "util/longest_run.hpp"

#include <cstring>

#include "pool/cancel.hpp"

namespace veltrane::util {

namespace {

// Where the run of data[i]'s value that starts at i ends. Eight bytes compared at
// a time: a long run (megabytes of zeros) costs a fraction of a byte loop.
std::size_t run_end(const std::uint8_t* data, std::size_t i, std::size_t n) {
    const std::uint8_t value = data[i];
    const std::uint64_t pattern = 0x0101010101010101ULL * value;
    std::size_t j = i + 1;
    while (j + 8 <= n) {
        std::uint64_t word;
        std::memcpy(&word, data + j, 8);
        if (word != pattern) break;
        j += 8;
        if ((j & 0xFFFFF) < 8) pool::checkpoint();
    }
    while (j < n && data[j] == value) ++j;
    return j;
}

}  // namespace

ByteRun longest_run(const std::uint8_t* data, std::size_t n) {
    ByteRun best;
    for (std::size_t i = 0; i < n;) {
        const std::size_t end = run_end(data, i, n);
        if (end - i > best.length) best = {data[i], i, end - i};
        if ((i >> 20) != (end >> 20)) pool::checkpoint();
        i = end;
    }
    return best;
}

}  // namespace veltrane::util
