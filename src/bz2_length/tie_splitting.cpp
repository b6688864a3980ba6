#include "bz2_length/tie_splitting.hpp"

#include <algorithm>

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

namespace {

// Parts of a group at most this long are sorted by comparison.
constexpr std::uint32_t SMALL_PART = 32;

// Places sorted[0..count) (sorted by key) at order[at..at + count): each run of
// equal keys a group named by its first position, the runs of 2 or more noted.
void settle(const std::uint64_t* sorted, std::uint32_t count, std::uint32_t at, std::uint32_t* order,
            std::uint32_t* group_of, std::vector<std::uint32_t>& groups) {
    std::uint32_t x = 0;
    while (x < count) {
        std::uint32_t y = x + 1;
        while (y < count && key_of(sorted[y]) == key_of(sorted[x])) ++y;
        for (std::uint32_t z = x; z < y; ++z) {
            order[at + z] = start_of(sorted[z]);
            group_of[order[at + z]] = at + x;
        }
        if (y - x > 1) groups.push_back(at + x), groups.push_back(at + y);
        x = y;
    }
}

}  // namespace

// A group may be named by any position in its range: names stay in the order
// of the rotations, and a part that keeps the name's position keeps the name.
// On repetitive input most of a group keeps one key round after round, and
// only the few that leave it are moved and renamed.
void split_ties(std::uint32_t* order, std::uint32_t m, std::uint64_t known, RotationScratch& s) {
    s.group_of.resize(m);
    s.items.resize(m);
    std::uint32_t* group_of = s.group_of.data();
    std::uint64_t* items = s.items.data();
    std::vector<std::uint32_t>& holes = s.seeing;
    std::vector<std::uint32_t>& movers = s.rest;
    std::vector<std::uint64_t>& leaving = s.leaving;
    s.spare.resize(m);
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
            // The new keys are read before this group is renamed; groups renamed
            // earlier in the round only give finer keys, still in order. The
            // most common key, if one holds a majority, comes out of the vote.
            std::uint64_t common = 0;
            std::uint32_t votes = 0;
            for (std::uint32_t x = begin; x < end; ++x) {
                std::uint32_t later = order[x] + ahead;
                if (later >= m) later -= m;
                items[x] = (std::uint64_t{group_of[later]} << START_BITS) | order[x];
                if (votes == 0) common = key_of(items[x]);
                votes += key_of(items[x]) == common ? 1 : -1;
            }
            std::uint32_t staying = 0;
            for (std::uint32_t x = begin; x < end; ++x) staying += key_of(items[x]) == common;
            if (staying == end - begin) {
                s.groups.push_back(begin), s.groups.push_back(end);
                continue;
            }
            if (2 * staying <= end - begin) {
                // Keys are names below 2^START_BITS: dealt out by their bits.
                radix_parts(items + begin, end - begin, 2 * START_BITS, SMALL_PART, s.spare.data());
                settle(items + begin, end - begin, begin, order, group_of, s.groups);
                pool::checkpoint();
                continue;
            }
            // Most keep the key: those leaving go below or above them, and
            // the ones staying fill the places they leave inside their range.
            leaving.clear();
            std::uint32_t below = 0;
            for (std::uint32_t x = begin; x < end; ++x) {
                if (key_of(items[x]) == common) continue;
                leaving.push_back(items[x]);
                below += key_of(items[x]) < common;
            }
            const std::uint32_t low = begin + below, high = low + staying;
            holes.clear(), movers.clear();
            for (std::uint32_t x = begin; x < end; ++x) {
                const bool stays = key_of(items[x]) == common, inside = x >= low && x < high;
                if (stays && !inside) movers.push_back(order[x]);
                if (!stays && inside) holes.push_back(x);
            }
            for (std::size_t h = 0; h < holes.size(); ++h) order[holes[h]] = movers[h];
            std::sort(leaving.begin(), leaving.end());
            settle(leaving.data(), below, begin, order, group_of, s.groups);
            settle(leaving.data() + below, static_cast<std::uint32_t>(leaving.size()) - below, high, order, group_of,
                   s.groups);
            const std::uint32_t name = group_of[order[low]];
            if (name < low || name >= high) {
                const std::uint32_t renamed = below > 0 && high == end ? high - 1 : low;
                for (std::uint32_t x = low; x < high; ++x) group_of[order[x]] = renamed;
            }
            if (staying > 1) s.groups.push_back(low), s.groups.push_back(high);
            pool::checkpoint();
        }
        known *= 2;
        pool::checkpoint();
    }
    s.groups.clear();
}

}  // namespace veltrane::bz2_length
