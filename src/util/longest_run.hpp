// The longest run of one repeated byte value: the padding or zero fill that the
// repeats search leaves out as periodic, named on its own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veltrane::util {

struct ByteRun {
    std::uint8_t value = 0;
    std::uint64_t start = 0;
    std::uint64_t length = 0;  // 0 only for empty data
};

// The first of the longest runs. O(n) on the calling thread, with checkpoints.
ByteRun longest_run(const std::uint8_t* data, std::size_t n);

}  // namespace veltrane::util
