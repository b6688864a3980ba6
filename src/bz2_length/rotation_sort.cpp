#include "bz2_length/rotation_sort.hpp"

#include <algorithm>
#include <bit>

#include "bz2_length/keyed_sort.hpp"
#include "pool/cancel.hpp"

namespace veltrane::bz2_length {

namespace {

constexpr int TOP_BITS = 16;

struct Packing {
    int width;             // values per key
    std::uint64_t leading; // radix^(width-1): the weight of a key's first value
    int key_bits;          // bits of the largest key
};

Packing packing_for(std::uint32_t radix) {
    using Wide = unsigned __int128;
    const Wide limit = Wide{1} << 64;
    Wide power = 1;
    int width = 0;
    while (power * radix <= limit) power *= radix, ++width;
    return {width, static_cast<std::uint64_t>(power / radix), static_cast<int>(std::bit_width(static_cast<std::uint64_t>(power - 1)))};
}

// keys[i]: the first p.width values of rotation i in base radix. Each key
// follows from the one before it by dropping a value and taking one more.
void pack_keys(const std::uint16_t* values, std::uint32_t m, std::uint32_t radix, const Packing& p,
               std::uint64_t* keys) {
    std::uint64_t key = 0;
    std::uint32_t next = 0;  // (i + width) mod m
    for (int j = 0; j < p.width; ++j) {
        key = key * radix + values[next];
        if (++next == m) next = 0;
    }
    for (std::uint32_t i = 0; i < m; ++i) {
        keys[i] = key;
        key = (key - values[i] * p.leading) * radix + values[next];
        if (++next == m) next = 0;
    }
}

// Sorts order[begin, end) by key; appends the runs of equal keys (groups still
// tied) to `groups` as begin, end pairs.
void sort_run(std::uint32_t* order, std::uint32_t begin, std::uint32_t end, const std::uint64_t* keys,
              RotationScratch& s) {
    const std::uint32_t n = end - begin;
    KeyedRotation* items = s.keyed.data();
    for (std::uint32_t x = 0; x < n; ++x) items[x] = {keys[order[begin + x]], order[begin + x]};
    sort_by_key(items, n);
    std::uint32_t x = 0;
    while (x < n) {
        std::uint32_t y = x + 1;
        while (y < n && items[y].key == items[x].key) ++y;
        if (y - x > 1) s.groups.push_back(begin + x), s.groups.push_back(begin + y);
        x = y;
    }
    for (x = 0; x < n; ++x) order[begin + x] = items[x].start;
}

// Prefix doubling on the groups left tied after `known` values: a member's new
// key is the group of the rotation `known` values further on.
void split_ties(std::uint32_t* order, std::uint32_t m, std::uint64_t known, RotationScratch& s) {
    std::uint32_t* group_of = s.group_of.data();
    // Every rotation's group: the first position of its run of equal keys.
    for (std::uint32_t x = 0; x < m; ++x) group_of[order[x]] = x;
    for (std::size_t k = 0; k < s.groups.size(); k += 2)
        for (std::uint32_t x = s.groups[k]; x < s.groups[k + 1]; ++x) group_of[order[x]] = s.groups[k];
    std::vector<std::uint32_t> pending;
    while (!s.groups.empty() && known < m) {
        pending.swap(s.groups);
        s.groups.clear();
        for (std::size_t k = 0; k < pending.size(); k += 2) {
            const std::uint32_t begin = pending[k], end = pending[k + 1];
            const std::uint32_t ahead = static_cast<std::uint32_t>(known % m);
            // The new keys are read before this group is renumbered; groups
            // renumbered earlier in the round only give finer keys, still in order.
            KeyedRotation* items = s.keyed.data();
            bool all_equal = true;
            for (std::uint32_t x = begin; x < end; ++x) {
                std::uint32_t later = order[x] + ahead;
                if (later >= m) later -= m;
                items[x - begin] = {group_of[later], order[x]};
                all_equal = all_equal && items[x - begin].key == items[0].key;
            }
            if (all_equal) {
                s.groups.push_back(begin), s.groups.push_back(end);
                continue;
            }
            const std::uint32_t n = end - begin;
            sort_by_key(items, n);
            std::uint32_t x = 0;
            while (x < n) {
                std::uint32_t y = x + 1;
                while (y < n && items[y].key == items[x].key) ++y;
                for (std::uint32_t z = x; z < y; ++z) {
                    order[begin + z] = items[z].start;
                    group_of[items[z].start] = begin + x;
                }
                if (y - x > 1) s.groups.push_back(begin + x), s.groups.push_back(begin + y);
                x = y;
            }
            pool::checkpoint();
        }
        known *= 2;
        pool::checkpoint();
    }
    s.groups.clear();
}

}  // namespace

void sort_rotations(const std::uint16_t* values, std::uint32_t m, std::uint32_t radix, std::uint32_t* order,
                    RotationScratch& s) {
    for (std::uint32_t i = 0; i < m; ++i) order[i] = i;
    if (m <= 1 || radix <= 1) return;  // a single rotation, or all alike
    const Packing p = packing_for(radix);
    s.keys.resize(m);
    s.keyed.resize(m);
    s.groups.clear();
    pack_keys(values, m, radix, p, s.keys.data());
    pool::checkpoint();

    // A counting pass on each key's top bits, then each bucket sorted alone.
    const int top = std::min(TOP_BITS, p.key_bits);
    const int shift = p.key_bits - top;
    const std::uint32_t buckets = std::uint32_t{1} << top;
    s.bucket_starts.assign(buckets + 1, 0);
    std::uint32_t* starts = s.bucket_starts.data();
    const std::uint64_t* keys = s.keys.data();
    for (std::uint32_t i = 0; i < m; ++i) ++starts[(keys[i] >> shift) + 1];
    for (std::uint32_t b = 0; b < buckets; ++b) starts[b + 1] += starts[b];
    for (std::uint32_t i = 0; i < m; ++i) order[starts[keys[i] >> shift]++] = i;
    // starts[b] is now where bucket b ends, and bucket b starts where b - 1 ends.
    std::uint32_t begin = 0;
    for (std::uint32_t b = 0; b < buckets; ++b) {
        const std::uint32_t end = starts[b];
        if (end - begin > 1) {
            if (shift == 0) {
                s.groups.push_back(begin), s.groups.push_back(end);  // the whole key is the bucket
            } else {
                sort_run(order, begin, end, keys, s);
            }
        }
        begin = end;
        if ((b & 4095) == 4095) pool::checkpoint();
    }
    if (s.groups.empty()) return;
    s.group_of.resize(m);
    split_ties(order, m, static_cast<std::uint64_t>(p.width), s);
}

}  // namespace veltrane::bz2_length
