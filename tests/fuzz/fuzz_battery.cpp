// libFuzzer target: the battery pass, its merges and its serialised form
// against the plain-loop reference, and the window profile against measuring
// each window alone.
//
// The first 8 bytes are a header: where the input lies in its whole (the start
// offset's residue mod 6 and a high part), case folding, up to four cut points,
// and a window and step; the rest is the data, tiled up to 300 KiB when the
// header asks, so that the parallel pass and its chunk seams are reached.
// The raw input is also handed to deserialize, which must either refuse it
// with std::invalid_argument or read a state that serialises back to it.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "battery/finish.hpp"
#include "battery/pass.hpp"
#include "battery/profile.hpp"
#include "battery/serialize.hpp"
#include "reference_battery.hpp"
#include "shannon_entropy/measures.hpp"

namespace {

using namespace veltrane::battery;

[[noreturn]] void fail(const char* what, std::size_t n) {
    std::fprintf(stderr, "battery: %s (length %zu)\n", what, n);
    std::abort();
}

void check_deserialize(const std::uint8_t* input, std::size_t size) {
    State s;
    try {
        s = deserialize(input, size);
    } catch (const std::invalid_argument&) {
        return;
    }
    const std::string again = serialize(s);
    if (again.size() != size || std::memcmp(again.data(), input, size) != 0) fail("a state read back differently", size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    check_deserialize(input, size);
    if (size < 8) return -1;
    const std::uint64_t start = (input[0] % 6) + (input[0] & 0x80 ? std::uint64_t{input[1]} << 40 : 0);
    const bool fold = input[2] & 1;
    const bool tile = input[2] & 2;
    const std::uint8_t* pattern = input + 8;
    const std::size_t pattern_size = size - 8;
    std::vector<std::uint8_t> data(tile && pattern_size > 0 ? 300001 + input[3] * 97 : pattern_size);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = pattern[i % pattern_size];
    const std::size_t n = data.size();

    std::vector<std::size_t> cuts = {0, n};
    for (int k = 0; k < 4; ++k) cuts.push_back(n == 0 ? 0 : (input[3 + k] * 131u + k * 7919u) % (n + 1));
    std::sort(cuts.begin(), cuts.end());
    PassOptions options;
    options.case_fold = fold;
    State merged = empty_state(start, fold);
    for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
        options.start = start + cuts[k];
        append(merged, measure_state(data.data() + cuts[k], cuts[k + 1] - cuts[k], options));
    }
    const State expected = reference::naive_state(data.data(), n, start, fold);
    if (!reference::same_state(merged, expected)) fail("merged pieces differ from the reference", n);
    if (!reference::same_state(deserialize(serialize(merged)), merged)) fail("a serialised state came back changed", n);
    if (start == 0) {
        for (bool bits : {false, true}) finish(merged, bits);
    }

    if (n <= 20000) {
        const std::size_t window = 1 + input[7] % 64 * (input[7] & 0x40 ? 37 : 1);
        const std::size_t step = 1 + input[6] % 97;
        const Profile p = entropy_profile(data.data(), n, window, step, WindowMeasure::metric);
        for (std::size_t w = 0; w < p.offsets.size(); ++w) {
            const double alone = veltrane::shannon_entropy::measure_metric_entropy(data.data() + p.offsets[w],
                                                                                  std::min(window, n));
            if (std::bit_cast<std::uint64_t>(alone) != std::bit_cast<std::uint64_t>(p.values[w])) {
                fail("a profile value differs from its window measured alone", n);
            }
        }
    }
    return 0;
}
