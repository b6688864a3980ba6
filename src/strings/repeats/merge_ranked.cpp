#include "strings/repeats/merge_ranked.hpp"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace veltrane::strings::repeats {

RepeatsResult merge_ranked(std::vector<RepeatsResult>&& parts, std::optional<std::uint64_t> top) {
    if (parts.size() == 1) return std::move(parts.front());
    struct Entry {
        std::size_t part, index;
    };
    std::vector<Entry> entries;
    for (std::size_t p = 0; p < parts.size(); ++p) {
        for (std::size_t i = 0; i < parts[p].size(); ++i) entries.push_back({p, i});
    }
    // Score, length and count descending, then the earlier first start.
    std::sort(entries.begin(), entries.end(), [&](const Entry& x, const Entry& y) {
        const RepeatsResult& a = parts[x.part];
        const RepeatsResult& b = parts[y.part];
        if (a.scores[x.index] != b.scores[y.index]) return a.scores[x.index] > b.scores[y.index];
        if (a.lengths[x.index] != b.lengths[y.index]) return a.lengths[x.index] > b.lengths[y.index];
        if (a.counts[x.index] != b.counts[y.index]) return a.counts[x.index] > b.counts[y.index];
        return a.firsts[x.index] < b.firsts[y.index];
    });
    if (top && entries.size() > *top) entries.resize(static_cast<std::size_t>(*top));
    RepeatsResult merged;
    for (const Entry& e : entries) {
        const RepeatsResult& part = parts[e.part];
        merged.lengths.push_back(part.lengths[e.index]);
        merged.counts.push_back(part.counts[e.index]);
        merged.firsts.push_back(part.firsts[e.index]);
        merged.scores.push_back(part.scores[e.index]);
        merged.truncated.push_back(part.truncated[e.index]);
        merged.starts.insert(merged.starts.end(),
                             part.starts.begin() + static_cast<std::ptrdiff_t>(part.offsets[e.index]),
                             part.starts.begin() + static_cast<std::ptrdiff_t>(part.offsets[e.index + 1]));
        merged.offsets.push_back(merged.starts.size());
    }
    for (const RepeatsResult& part : parts) {
        merged.left_out.few_non_overlapping += part.left_out.few_non_overlapping;
        merged.left_out.periodic += part.left_out.periodic;
        merged.left_out.low_entropy += part.left_out.low_entropy;
        merged.left_out.not_maximal += part.left_out.not_maximal;
    }
    return merged;
}

}  // namespace veltrane::strings::repeats
