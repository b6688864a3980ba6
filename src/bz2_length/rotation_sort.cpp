#include "bz2_length/rotation_sort.hpp"

#include <algorithm>
#include <bit>

#include "bz2_length/keyed_sort.hpp"
#include "pool/cancel.hpp"

namespace veltrane::bz2_length {

namespace {

constexpr int TOP_BITS = 16;
constexpr int TOP_SHIFT = 64 - TOP_BITS;
// Buckets larger than this are sorted on their own before the insertion pass.
constexpr std::uint32_t LARGE_BUCKET = 48;

struct Packing {
    int width;              // values per key
    std::uint64_t leading;  // radix^(width-1): the weight of a key's first value
    int shift;              // lifts a key's top bit to bit 63
};

Packing packing_for(std::uint32_t radix) {
    const std::uint64_t limit = std::uint64_t{1} << KEY_BITS;
    std::uint64_t power = 1;
    int width = 0;
    while (power <= limit / radix) power *= radix, ++width;
    return {width, power / radix, 64 - static_cast<int>(std::bit_width(power - 1))};
}

// Calls visit(i, key) for every rotation i in order, key being its first
// p.width values in base radix: each key follows from the one before it by
// dropping a value and taking one more.
template <class Visit>
void for_each_key(const std::uint16_t* values, std::uint32_t m, std::uint32_t radix, const Packing& p, Visit visit) {
    std::uint64_t key = 0;
    std::uint32_t next = 0;  // (i + width) mod m
    for (int j = 0; j < p.width; ++j) {
        key = key * radix + values[next];
        if (++next == m) next = 0;
    }
    for (std::uint32_t i = 0; i < m; ++i) {
        visit(i, key);
        key = (key - values[i] * p.leading) * radix + values[next];
        if (++next == m) next = 0;
    }
}

std::uint64_t key_of(std::uint64_t item) { return item >> START_BITS; }

// Sorted by the top bits, each item only a few places from where it belongs.
// The common steps (in place, or one place back) go without a branch.
void insertion_pass(std::uint64_t* items, std::uint32_t m) {
    std::uint64_t top = items[0];  // the largest so far, held back from items[i - 1]
    for (std::uint32_t i = 1; i < m; ++i) {
        const std::uint64_t item = items[i];
        const bool back = key_of(item) < key_of(top);
        items[i - 1] = back ? item : top;
        top = back ? top : item;
        if (back && i >= 2 && key_of(items[i - 2]) > key_of(item)) [[unlikely]] {
            std::uint32_t j = i - 1;
            do {
                items[j] = items[j - 1];
                --j;
            } while (j > 0 && key_of(items[j - 1]) > key_of(item));
            items[j] = item;
        }
    }
    items[m - 1] = top;
}

// A bucket too large for the insertion pass, whose items agree above bit
// `shift`: dealt out by the next 8 bits, again and again, until its parts are
// small or their keys equal.
void radix_part(std::uint64_t* items, std::uint32_t n, int shift, std::uint64_t* spare) {
    while (n > LARGE_BUCKET && shift > START_BITS) {
        const int width = std::min(8, shift - START_BITS);
        shift -= width;
        const std::uint64_t mask = (std::uint64_t{1} << width) - 1;
        std::uint32_t start[257] = {};
        for (std::uint32_t x = 0; x < n; ++x) ++start[((items[x] >> shift) & mask) + 1];
        for (int d = 0; d < 256; ++d) start[d + 1] += start[d];
        std::uint32_t fill[256];
        std::copy_n(start, 256, fill);
        for (std::uint32_t x = 0; x < n; ++x) spare[fill[(items[x] >> shift) & mask]++] = items[x];
        std::copy_n(spare, n, items);
        // The largest part is looped on, the others recursed into.
        int largest = 0;
        for (int d = 1; d <= static_cast<int>(mask); ++d)
            if (start[d + 1] - start[d] > start[largest + 1] - start[largest]) largest = d;
        for (int d = 0; d <= static_cast<int>(mask); ++d)
            if (d != largest) radix_part(items + start[d], start[d + 1] - start[d], shift, spare);
        items += start[largest];
        n = start[largest + 1] - start[largest];
    }
}

// Appends the runs of equal keys among items[begin, end) to `groups`.
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

// Prefix doubling on the groups left tied after `known` values: a member's new
// key is the group of the rotation `known` values further on. Groups renumbered
// earlier in a round only give finer keys, still in order.
void split_ties(std::uint32_t* order, std::uint32_t m, std::uint64_t known, RotationScratch& s) {
    s.group_of.resize(m);
    std::uint32_t* group_of = s.group_of.data();
    std::uint64_t* items = s.items.data();
    // Every rotation's group: the first position of its run of equal keys.
    for (std::uint32_t x = 0; x < m; ++x) group_of[order[x]] = x;
    for (std::size_t k = 0; k < s.groups.size(); k += 2)
        for (std::uint32_t x = s.groups[k]; x < s.groups[k + 1]; ++x) group_of[order[x]] = s.groups[k];
    while (!s.groups.empty() && known < m) {
        s.pending.swap(s.groups);
        s.groups.clear();
        const std::uint32_t ahead = static_cast<std::uint32_t>(known);
        for (std::size_t k = 0; k < s.pending.size(); k += 2) {
            const std::uint32_t begin = s.pending[k], end = s.pending[k + 1];
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
                order[x] = static_cast<std::uint32_t>(items[x] & START_MASK);
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

}  // namespace

void sort_rotations(const std::uint16_t* values, std::uint32_t m, std::uint32_t radix, std::uint32_t* order,
                    RotationScratch& s) {
    if (m <= 1 || radix <= 1) {  // a single rotation, or all alike
        for (std::uint32_t i = 0; i < m; ++i) order[i] = i;
        return;
    }
    const Packing p = packing_for(radix);
    s.items.resize(m);
    s.groups.clear();
    std::uint64_t* items = s.items.data();

    // A counting pass on the keys' top bits, then the rotations dealt out by them.
    constexpr std::uint32_t BUCKETS = std::uint32_t{1} << TOP_BITS;
    s.bucket_ends.assign(BUCKETS, 0);
    std::uint32_t* ends = s.bucket_ends.data();
    for_each_key(values, m, radix, p, [&](std::uint32_t, std::uint64_t key) { ++ends[(key << p.shift) >> TOP_SHIFT]; });
    pool::checkpoint();
    std::uint32_t total = 0;
    std::vector<std::uint32_t>& large = s.pending;
    large.clear();
    for (std::uint32_t b = 0; b < BUCKETS; ++b) {
        const std::uint32_t count = ends[b];
        if (count > LARGE_BUCKET) large.push_back(total);
        ends[b] = total;  // where the bucket starts, for now
        total += count;
    }
    for_each_key(values, m, radix, p, [&](std::uint32_t i, std::uint64_t key) {
        const std::uint64_t item = (key << p.shift) | i;
        items[ends[item >> TOP_SHIFT]++] = item;
    });
    pool::checkpoint();
    // Large buckets first, so that the insertion pass only ever moves items a little.
    if (!large.empty()) {
        s.spare.resize(m);
        for (std::uint32_t begin : large) radix_part(items + begin, ends[items[begin] >> TOP_SHIFT] - begin, TOP_SHIFT, s.spare.data());
    }
    insertion_pass(items, m);
    pool::checkpoint();
    note_ties(items, 0, m, s.groups);
    for (std::uint32_t x = 0; x < m; ++x) order[x] = static_cast<std::uint32_t>(items[x] & START_MASK);
    if (!s.groups.empty()) split_ties(order, m, static_cast<std::uint64_t>(p.width), s);
}

}  // namespace veltrane::bz2_length
