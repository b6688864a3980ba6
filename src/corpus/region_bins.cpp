#include "corpus/region_bins.hpp"

#include <algorithm>
#include <cstdint>
#include <numeric>

#include "pool/cancel.hpp"

namespace veltrane::corpus {

namespace {

// Union by size with path halving: near-constant time per link.
class Groups {
public:
    explicit Groups(std::size_t n) : parent_(n), size_(n, 1) { std::iota(parent_.begin(), parent_.end(), 0u); }

    std::uint32_t find(std::uint32_t x) {
        while (parent_[x] != x) x = parent_[x] = parent_[parent_[x]];
        return x;
    }

    void join(std::uint32_t a, std::uint32_t b) {
        a = find(a);
        b = find(b);
        if (a == b) return;
        if (size_[a] < size_[b]) std::swap(a, b);
        parent_[b] = a;
        size_[a] += size_[b];
    }

private:
    std::vector<std::uint32_t> parent_;
    std::vector<std::uint32_t> size_;
};

}  // namespace

std::vector<std::vector<Region>> region_bins(RepeatRegions&& found, std::size_t bins) {
    const std::size_t r = found.regions.size();
    if (r == 0) return {};
    if (!found.sampled) return {std::move(found.regions)};
    bins = std::max<std::size_t>(1, std::min(bins, r));
    Groups groups(r);
    for (std::size_t i = 0; i < found.links.size(); ++i) {
        if ((i & 0xFFFF) == 0) pool::checkpoint();
        groups.join(found.links[i].first, found.links[i].second);
    }
    found.links = {};
    // Bytes of each group, at its root.
    std::vector<std::uint64_t> bytes(r, 0);
    for (std::uint32_t i = 0; i < r; ++i) bytes[groups.find(i)] += found.regions[i].end - found.regions[i].start;
    std::vector<std::uint32_t> roots;
    for (std::uint32_t i = 0; i < r; ++i) {
        if (groups.find(i) == i) roots.push_back(i);
    }
    std::sort(roots.begin(), roots.end(), [&](std::uint32_t a, std::uint32_t b) {
        return bytes[a] != bytes[b] ? bytes[a] > bytes[b] : a < b;
    });
    std::vector<std::uint64_t> load(bins, 0);
    std::vector<std::uint32_t> bin_of_root(r, 0);
    for (std::uint32_t root : roots) {
        const std::size_t b = static_cast<std::size_t>(std::min_element(load.begin(), load.end()) - load.begin());
        bin_of_root[root] = static_cast<std::uint32_t>(b);
        load[b] += bytes[root];
    }
    // One group that holds most of the bytes is searched alone, with the pool
    // for its own steps, rather than beside sets that end long before it.
    const std::uint64_t total = std::accumulate(load.begin(), load.end(), std::uint64_t{0});
    if (bytes[roots.front()] >= total / 4 * 3) std::fill(bin_of_root.begin(), bin_of_root.end(), 0);
    // Regions in corpus order within each set; the first set took the largest group.
    std::vector<std::vector<Region>> sets(bins);
    for (std::uint32_t i = 0; i < r; ++i) sets[bin_of_root[groups.find(i)]].push_back(found.regions[i]);
    sets.erase(std::remove_if(sets.begin(), sets.end(), [](const auto& set) { return set.empty(); }), sets.end());
    return sets;
}

}  // namespace veltrane::corpus
