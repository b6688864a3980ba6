#include "corpus/shard_anchors.hpp"

#include <algorithm>

#include "corpus/anchors.hpp"
#include "corpus/repeat_regions.hpp"

namespace veltrane::corpus::shard {

std::size_t owner_of(std::span<const std::uint64_t> positions, std::uint64_t p) {
    const auto after = std::upper_bound(positions.begin(), positions.end(), p);
    return after == positions.begin() ? 0 : static_cast<std::size_t>(after - positions.begin()) - 1;
}

bool anchored(std::uint64_t min_length) { return min_length >= SAMPLED_FROM; }

std::vector<HalfRun> half_runs(const CorpusText& text, std::uint64_t min_length) {
    const anchors::Sampling whole = anchors::Sampling::of(min_length);
    // The anchors of every t-byte window: the same rule, on windows as long as the part that decides it.
    const anchors::Sampling half{whole.t, whole.t, whole.w, whole.f};
    std::vector<HalfRun> runs;
    for (std::size_t d = 0; d < text.documents(); ++d) {
        const std::uint64_t start = text.offsets[d], end = text.offsets[d + 1];
        if (end - start < min_length) continue;  // no window, so no half of one
        anchors::for_each_anchor(text, half, start, end,
                                 [&](std::uint64_t anchor, std::uint64_t fingerprint, std::uint64_t first,
                                     std::uint64_t stop) {
                                     // The second key's bytes end with the anchor's gram: inside any window
                                     // whose second half holds it, which starts f bytes before that half.
                                     const std::uint64_t second =
                                         anchor + anchors::GRAM >= start + whole.f
                                             ? anchors::fingerprint(text.bytes + anchor + anchors::GRAM - whole.f, whole.f)
                                             : 0;
                                     runs.push_back({key_of(fingerprint), key_of(second), first, stop});
                                 });
    }
    return runs;
}

}  // namespace veltrane::corpus::shard
