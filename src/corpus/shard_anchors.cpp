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

std::vector<AnchorRun> anchor_runs(const CorpusText& text, std::uint64_t min_length) {
    std::vector<AnchorRun> runs;
    anchors::for_each_anchor(text, anchors::Sampling::of(min_length), 0, text.size(),
                             [&](std::uint64_t, std::uint64_t fingerprint, std::uint64_t first, std::uint64_t stop) {
                                 runs.push_back({key_of(fingerprint), first, stop});
                             });
    return runs;
}

}  // namespace veltrane::corpus::shard
