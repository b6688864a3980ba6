#include "bz2_length/tie_splitting.hpp"

#include "bz2_length/keyed_sort.hpp"
#include "pool/cancel.hpp"

namespace veltrane::bz2_length {

void note_ties(const std::uint64_t* items, std::uint32_t begin, std::uint32_t end, std::vector<std::uint32_t>& groups) {
    std::uint32_t x = begin;
    while (x + 1 < end) {
        if (key_of(items[x + 1]) != key_of(items[x])) {
            ++x;
            continue;
        }
        std::uint32_t y = x + 2;
        while (y < end && key_of(items[y]) == key_of(items[x])) ++y;
        groups.push_back(x), groups.push_back(y);
        x = y;
    }
}

void split_ties(std::uint32_t* order, std::uint32_t m, std::uint64_t known, RotationScratch& s) {
    s.group_of.resize(m);
    s.items.resize(m);
    std::uint32_t* group_of = s.group_of.data();
    std::uint64_t* items = s.items.data();
    // Every rotation's group: the first position of its run of equal keys.
    for (std::uint32_t x = 0; x < m; ++x) group_of[order[x]] = x;
    for (std::size_t k = 0; k < s.groups.size(); k += 2)
        for (std::uint32_t x = s.groups[k]; x < s.groups[k + 1]; ++x) group_of[order[x]] = s.groups[k];
    while (!s.groups.empty() && known < m) {
        s.pending.swap(s.groups);
        s.groups.clear();
        const auto ahead = static_cast<std::uint32_t>(known);
        for (std::size_t k = 0; k < s.pending.size(); k += 2) {
            const std::uint32_t begin = s.pending[k], end = s.pending[k + 1];
            // The new keys are read before this group is renumbered; groups
            // renumbered earlier in the round only give finer keys, still in order.
            bool all_equal = true;
            for (std::uint32_t x = begin; x < end; ++x) {
                std::uint32_t later = order[x] + ahead;
                if (later >= m) later -= m;
                items[x] = (std::uint64_t{group_of[later]} << START_BITS) | order[x];
                all_equal = all_equal && key_of(items[x]) == key_of(items[begin]);
            }
            if (all_equal) {
                s.groups.push_back(begin), s.groups.push_back(end);
                continue;
            }
            sort_by_key(items + begin, end - begin);
            const std::size_t first_new = s.groups.size();
            note_ties(items, begin, end, s.groups);
            for (std::uint32_t x = begin; x < end; ++x) {
                order[x] = start_of(items[x]);
                group_of[order[x]] = x;
            }
            for (std::size_t g = first_new; g < s.groups.size(); g += 2)
                for (std::uint32_t x = s.groups[g]; x < s.groups[g + 1]; ++x) group_of[order[x]] = s.groups[g];
            pool::checkpoint();
        }
        known *= 2;
        pool::checkpoint();
    }
    s.groups.clear();
}

}  // namespace veltrane::bz2_length
