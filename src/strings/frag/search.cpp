#include "strings/frag/search.hpp"

#include <iterator>

namespace veltrane::strings::frag {

void rank_candidates(std::vector<FragmentCandidate>& candidates) {
    constexpr std::size_t SEQUENTIAL_BELOW = 1 << 14;
    const std::size_t n = candidates.size();
    if (n < SEQUENTIAL_BELOW) {
        std::sort(candidates.begin(), candidates.end(), ranks_before);
        return;
    }
    // The key is a total order (first-occurrence starts differ between fragments
    // of one length), so any division of the work gives the same result.
    std::size_t pieces = pool::piece_count(n);
    std::vector<std::size_t> bounds(pieces + 1);
    for (std::size_t p = 0; p < pieces; ++p) bounds[p] = pool::piece_range(n, pieces, p).first;
    bounds[pieces] = n;
    auto at = [&](std::size_t i) { return candidates.begin() + static_cast<std::ptrdiff_t>(i); };
    pool::run_tasks(pieces, [&](std::size_t p) { std::sort(at(bounds[p]), at(bounds[p + 1]), ranks_before); });
    for (std::size_t width = 1; width < pieces; width *= 2) {
        std::size_t merges = (pieces + 2 * width - 1) / (2 * width);
        pool::run_tasks(merges, [&](std::size_t m) {
            std::size_t lo = m * 2 * width, mid = std::min(lo + width, pieces), hi = std::min(lo + 2 * width, pieces);
            if (mid < hi) std::inplace_merge(at(bounds[lo]), at(bounds[mid]), at(bounds[hi]), ranks_before);
        });
    }
}

std::vector<Fragment> select_fragments(std::vector<FragmentCandidate>&& candidates, std::uint64_t n,
                                       std::uint64_t count, bool global_non_overlap) {
    std::vector<FragmentCandidate> ranked = std::move(candidates);
    std::vector<Fragment> result;
    result.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(count, ranked.size())));
    std::vector<std::uint8_t> taken;
    if (global_non_overlap) taken.assign(static_cast<std::size_t>(n), 0);
    for (FragmentCandidate& candidate : ranked) {
        if (result.size() >= count) break;
        if (global_non_overlap) {
            bool free = true;
            for (const FragmentInterval& iv : candidate.occurrences) {
                for (std::uint64_t p = iv.start; p < iv.end && free; ++p) free = taken[p] == 0;
                if (!free) break;
            }
            if (!free) {
                candidate.occurrences = {};
                continue;
            }
            for (const FragmentInterval& iv : candidate.occurrences) {
                std::memset(taken.data() + iv.start, 1, iv.end - iv.start);
            }
        }
        result.push_back({result.size(), std::move(candidate.occurrences)});
    }
    return result;
}

}  // namespace veltrane::strings::frag
