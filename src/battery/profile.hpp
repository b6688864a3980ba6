// The entropy of every window along a buffer, in one call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veltrane::battery {

enum class WindowMeasure {
    metric,      // shannon_entropy::measure_metric_entropy of the window (H / 8)
    normalized,  // shannon_entropy::measure_normalized_metric_entropy of the window
};

inline constexpr const char* WINDOW_STEP_MESSAGE = "window and step must be positive";

// Starts of the windows over `size` bytes: every `step` bytes while a whole
// window fits, then one flush with the end (so every window is `window` bytes
// long); [0] when size <= window, [] when size is 0. Throws
// std::invalid_argument (WINDOW_STEP_MESSAGE) when window or step is 0.
std::vector<std::uint64_t> window_starts(std::uint64_t size, std::uint64_t window, std::uint64_t step);

struct Profile {
    std::vector<std::uint64_t> offsets;  // window_starts(n, window, step)
    std::vector<double> values;          // the measure of each window, bit-identical to measuring it alone
};

// Each window is data[offset, offset + min(window, n)). Along a run of
// windows one histogram is updated by the bytes that leave and enter (O(step)
// a window when step < window, a fresh count otherwise); each value is then
// 256 lookups in a table of the terms log2(c/W) * (c/W), summed in bin order
// exactly as entropy_of_counts sums them. The windows are split into ranges
// across the worker pool, and each range into four runs advanced side by side
// so that their sums overlap in the floating-point units. Throws as
// window_starts, pool::Cancelled when stopped.
Profile entropy_profile(const std::uint8_t* data, std::size_t n, std::size_t window, std::size_t step,
                        WindowMeasure measure);

}  // namespace veltrane::battery
