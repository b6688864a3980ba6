#include "corpus/repeat_regions.hpp"

#include <algorithm>
#include <utility>

#include "corpus/anchors.hpp"
#include "pool/cancel.hpp"
#include "pool/pool.hpp"

namespace veltrane::corpus {

namespace {

using anchors::GRAM;
using anchors::Sampling;

struct Anchor {
    std::uint64_t fingerprint, position;
    bool operator<(const Anchor& o) const {
        return fingerprint != o.fingerprint ? fingerprint < o.fingerprint : position < o.position;
    }
};

// The anchors of the windows that start in corpus bytes [from, to), in
// order of position, each once per run of windows that pick it.
void anchors_between(const CorpusText& text, const Sampling& s, std::uint64_t from, std::uint64_t to,
                     std::vector<Anchor>& out) {
    anchors::for_each_anchor(text, s, from, to, [&](std::uint64_t a, std::uint64_t fingerprint, std::uint64_t,
                                                    std::uint64_t) { out.push_back({fingerprint, a}); });
}

// Sorts by fingerprint on the pool: the anchors go to buckets of their top
// fingerprint bits first, then the buckets are sorted side by side.
std::vector<Anchor> sorted(std::vector<std::vector<Anchor>>&& pieces) {
    constexpr unsigned BITS = 8;
    std::vector<std::uint64_t> bucket_start((1u << BITS) + 1, 0);
    for (const auto& piece : pieces) {
        for (const Anchor& a : piece) ++bucket_start[(a.fingerprint >> (64 - BITS)) + 1];
    }
    for (std::size_t b = 1; b < bucket_start.size(); ++b) bucket_start[b] += bucket_start[b - 1];
    std::vector<Anchor> all(bucket_start.back());
    std::vector<std::uint64_t> at(bucket_start.begin(), bucket_start.end() - 1);
    for (auto& piece : pieces) {
        pool::checkpoint();
        for (const Anchor& a : piece) all[at[a.fingerprint >> (64 - BITS)]++] = a;
        piece = {};
    }
    const std::size_t buckets = std::size_t{1} << BITS;
    const std::size_t tasks = pool::piece_count(buckets);
    pool::run_tasks(tasks, [&](std::size_t task) {
        auto [begin, end] = pool::piece_range(buckets, tasks, task);
        for (std::size_t b = begin; b < end; ++b) {
            pool::checkpoint();
            std::sort(all.begin() + static_cast<std::ptrdiff_t>(bucket_start[b]),
                      all.begin() + static_cast<std::ptrdiff_t>(bucket_start[b + 1]));
        }
    });
    return all;
}

// An anchor whose fingerprint another position has too, with the number of
// its fingerprint among the shared ones.
struct Shared {
    std::uint64_t position;
    std::uint64_t group;
    bool operator<(const Shared& o) const { return position < o.position; }
};

// The shared anchors, ascending by position.
std::vector<Shared> shared_anchors(const std::vector<Anchor>& anchors) {
    std::vector<Shared> shared;
    std::uint64_t groups = 0;
    for (std::size_t i = 0; i < anchors.size();) {
        if ((i & 0xFFFF) == 0) pool::checkpoint();
        std::size_t j = i + 1;
        while (j < anchors.size() && anchors[j].fingerprint == anchors[i].fingerprint) ++j;
        // Two pieces may both list an anchor at their border: equal entries are one position.
        if (anchors[j - 1].position != anchors[i].position) {
            for (std::size_t k = i; k < j; ++k) {
                if (k == i || anchors[k].position != anchors[k - 1].position) {
                    shared.push_back({anchors[k].position, groups});
                }
            }
            ++groups;
        }
        i = j;
    }
    std::sort(shared.begin(), shared.end());
    return shared;
}

}  // namespace

RepeatRegions repeat_regions(const CorpusText& text, std::uint64_t min_length) {
    RepeatRegions found;
    std::vector<Region>& regions = found.regions;
    if (min_length < SAMPLED_FROM) {
        for (std::size_t d = 0; d < text.documents(); ++d) {
            if (text.offsets[d] < text.offsets[d + 1]) regions.push_back({text.offsets[d], text.offsets[d + 1]});
        }
        return found;
    }
    found.sampled = true;
    const Sampling s = Sampling::of(min_length);

    // Pieces of equal bytes, whatever the documents' sizes.
    const std::uint64_t n = text.size();
    const std::size_t pieces = pool::piece_count(static_cast<std::size_t>(n / (1 << 20) + 1));
    std::vector<std::vector<Anchor>> anchors(pieces);
    pool::run_tasks(pieces, [&](std::size_t p) {
        auto [from, to] = pool::piece_range(static_cast<std::size_t>(n), pieces, p);
        anchors_between(text, s, from, to, anchors[p]);
    });
    const std::vector<Shared> shared = shared_anchors(sorted(std::move(anchors)));

    // Each anchor's region is the last one made when it comes.
    std::vector<std::uint32_t> first_region;  // of each group, or NONE
    constexpr std::uint32_t NONE = UINT32_MAX;
    std::size_t d = 0;
    for (const auto& [a, group] : shared) {
        pool::checkpoint();
        while (text.offsets[d + 1] <= a) ++d;
        const std::uint64_t start = std::max(text.offsets[d], a - std::min(a, s.t - GRAM));
        const std::uint64_t end = std::min(text.offsets[d + 1], a + s.length);
        // Merged only inside a document: documents touch, their regions must not.
        if (!regions.empty() && regions.back().end >= start && regions.back().end > text.offsets[d]) {
            regions.back().end = std::max(regions.back().end, end);
        } else {
            regions.push_back({start, end});
        }
        const auto region = static_cast<std::uint32_t>(regions.size() - 1);
        if (group >= first_region.size()) first_region.resize(2 * group + 1, NONE);
        if (first_region[group] == NONE) {
            first_region[group] = region;
        } else if (first_region[group] != region) {
            found.links.emplace_back(first_region[group], region);
        }
    }
    return found;
}

}  // namespace veltrane::corpus
