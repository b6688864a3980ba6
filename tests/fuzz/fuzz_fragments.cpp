// libFuzzer target: the repeated-fragment search against the first engine,
// kept as the tests' reference.
//
// The first bytes choose `count`, `times`, the mode and the element width; the
// rest is the sequence. Bytes are searched as they are; for the wider widths
// each byte is spread over the element's range (so 0, the largest code point
// and everything between occur). Inputs are kept short: the reference costs
// about n * (n / times)^2 element reads. Any difference in the returned list,
// or any sanitizer report, is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "reference_search.hpp"
#include "strings/frag/search.hpp"

namespace {

constexpr std::size_t MAX_ELEMENTS = 160;

template <class T>
void compare(const std::vector<T>& seq, std::uint64_t count, std::uint64_t times, bool global) {
    std::span<const T> view(seq.data(), seq.size());
    const auto fast = veltrane::strings::frag::find_non_overlapping_fragments_generic(view, count, times, global);
    const auto reference = veltrane::reference::reference_find_fragments(view, count, times, global);
    const bool same = veltrane::reference::same_fragments(fast, reference);
    if (!same) {
        std::fprintf(stderr, "fragment search differs from the reference: n=%zu count=%llu times=%llu global=%d "
                             "width=%zu (%zu vs %zu fragments)\n",
                     seq.size(), static_cast<unsigned long long>(count), static_cast<unsigned long long>(times),
                     global ? 1 : 0, sizeof(T), fast.size(), reference.size());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    if (size < 3) return -1;
    // count: small values mostly, sometimes "everything".
    const std::uint64_t count = input[0] >= 250 ? UINT64_MAX : input[0] % 40;
    // times: 0..6 mostly; 255 means "n", 254 means "n + 1".
    const std::uint8_t times_code = input[1];
    const bool global = input[2] & 1;
    const unsigned width = (input[2] >> 1) % 3;  // 1, 2 or 4 bytes per element
    const std::uint8_t* body = input + 3;
    const std::size_t n = std::min(size - 3, MAX_ELEMENTS);
    const std::uint64_t times = times_code == 255 ? n : times_code == 254 ? n + 1 : times_code % 7;

    if (width == 0) {
        compare(std::vector<std::uint8_t>(body, body + n), count, times, global);
    } else if (width == 1) {
        std::vector<std::uint16_t> seq(n);
        for (std::size_t i = 0; i < n; ++i) seq[i] = static_cast<std::uint16_t>(body[i] * 257u);
        compare(seq, count, times, global);
    } else {
        std::vector<std::uint32_t> seq(n);
        for (std::size_t i = 0; i < n; ++i) seq[i] = static_cast<std::uint32_t>(body[i]) * 0x10FFFFu / 255u;
        compare(seq, count, times, global);
    }
    return 0;
}
