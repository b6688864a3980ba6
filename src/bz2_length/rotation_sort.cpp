#include "bz2_length/rotation_sort.hpp"

#include <algorithm>
#include <bit>

#include "bz2_length/keyed_sort.hpp"
#include "bz2_length/tie_splitting.hpp"
#include "pool/cancel.hpp"

namespace veltrane::bz2_length {

namespace {

// The two counting passes take the top 22 bits, 11 at a time: the passes'
// writes stay within a few thousand places at a time.
constexpr int DIGIT_BITS = 11;
constexpr std::uint32_t DIGITS = 1u << DIGIT_BITS;
constexpr int HIGH_SHIFT = 64 - DIGIT_BITS;
constexpr int LOW_SHIFT = HIGH_SHIFT - DIGIT_BITS;
// Runs of equal top bits longer than this are sorted before the insertion pass:
// by comparison, or when longer than RADIX_RUN dealt out further.
constexpr std::uint32_t LONG_RUN = 16;
constexpr std::uint32_t RADIX_RUN = 256;
// Fewer rotations are sorted by comparison.
constexpr std::uint32_t SMALL_SORT = 4096;

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

// A value that occurs once (a decimal block's wrap token, mostly) costs a whole
// digit of the radix: with two values and it, keys hold 27 values instead of
// 44. Folded, it is keyed as its neighbour below (above, when it is the least
// value), and what follows it in a key as the largest value (the least): then a
// key that sees it compares with every other as the rotation does, except that
// it ties with a key just like it without it; such ties are settled by
// comparing the rotations that see it value by value.
struct Fold {
    bool active = false;
    std::uint32_t at = 0;     // where the lone value is
    bool above_kin = true;    // whether it sorts above the value it is keyed as
};

Fold find_fold(const std::uint16_t* values, std::uint32_t m, std::uint32_t radix, RotationScratch& s) {
    Fold f;
    if (radix < 3) return f;
    // Worth a pass over the values when keys hold a quarter more values.
    const int folded_width = packing_for(radix - 1).width;
    if (4 * folded_width < 5 * packing_for(radix).width || 2 * std::uint64_t(folded_width) >= m) return f;
    s.group_of.assign(radix, 0);  // counts, for now
    std::uint32_t* count = s.group_of.data();
    for (std::uint32_t i = 0; i < m; ++i) ++count[values[i]];
    const std::uint32_t* once = std::find(count, count + radix, 1u);
    if (once == count + radix) return f;
    const auto value = static_cast<std::uint16_t>(once - count);
    f.active = true;
    f.at = static_cast<std::uint32_t>(std::find(values, values + m, value) - values);
    f.above_kin = value > 0;
    const std::uint16_t kin = value > 0 ? value - 1 : 0;  // what it is keyed as, after the values above it close up
    s.folded.resize(m);
    for (std::uint32_t i = 0; i < m; ++i) {
        const std::uint16_t v = values[i];
        s.folded[i] = v < value ? v : v > value ? static_cast<std::uint16_t>(v - 1) : kin;
    }
    return f;
}

// The keys of the rotations that see the lone value within their first values:
// after it, the largest value throughout (the least, if it sorts below its kin).
void key_fold_seers(const Fold& f, std::uint32_t m, std::uint32_t radix, const Packing& p, std::uint64_t* items,
                    const RotationScratch& s) {
    const std::uint16_t beyond = f.above_kin ? static_cast<std::uint16_t>(radix - 1) : 0;
    for (int offset = 0; offset < p.width; ++offset) {
        const std::uint32_t start = (f.at + m - static_cast<std::uint32_t>(offset)) % m;
        std::uint64_t key = 0;
        for (int j = 0; j < p.width; ++j) key = key * radix + (j <= offset ? s.folded[(start + j) % m] : beyond);
        items[start] = (key << p.shift) | start;
    }
}

// Reorders each tied group that holds rotations seeing the lone value within
// their first `width` values: the others are truly equal and stay a group; those
// seeing it come after them (before, if it sorts below its kin) and differ from
// each other, where it lies.
void unfold_ties(const std::uint16_t* values, std::uint32_t m, int width, const Fold& f, std::uint32_t* order,
                 RotationScratch& s) {
    auto sees = [&](std::uint32_t start) { return (f.at + m - start) % m < static_cast<std::uint32_t>(width); };
    auto less = [&](std::uint32_t a, std::uint32_t b) {
        for (int j = 0; j < width; ++j) {
            const std::uint16_t x = values[(a + j) % m], y = values[(b + j) % m];
            if (x != y) return x < y;
        }
        return false;
    };
    s.pending.clear();
    std::vector<std::uint32_t>& seeing = s.seeing;
    std::vector<std::uint32_t>& rest = s.rest;
    for (std::size_t k = 0; k < s.groups.size(); k += 2) {
        const std::uint32_t begin = s.groups[k], end = s.groups[k + 1];
        seeing.clear(), rest.clear();
        for (std::uint32_t x = begin; x < end; ++x) (sees(order[x]) ? seeing : rest).push_back(order[x]);
        if (seeing.empty()) {
            s.pending.push_back(begin), s.pending.push_back(end);
            continue;
        }
        std::sort(seeing.begin(), seeing.end(), less);
        const std::uint32_t rest_begin = f.above_kin ? begin : end - static_cast<std::uint32_t>(rest.size());
        std::copy(rest.begin(), rest.end(), order + rest_begin);
        std::copy(seeing.begin(), seeing.end(), order + (f.above_kin ? begin + rest.size() : begin));
        if (rest.size() > 1) s.pending.push_back(rest_begin), s.pending.push_back(rest_begin + static_cast<std::uint32_t>(rest.size()));
    }
    s.groups.swap(s.pending);
}

// items[0..m) by key: two counting passes on the top 22 bits, long runs still
// equal there dealt out further, then the insertion pass.
void sort_items(std::uint64_t* items, std::uint32_t m, RotationScratch& s) {
    if (m < SMALL_SORT) {
        sort_by_key(items, m);
        return;
    }
    s.spare.resize(m);
    std::uint64_t* spare = s.spare.data();
    s.bucket_ends.assign(2 * DIGITS, 0);
    std::uint32_t* low = s.bucket_ends.data();
    std::uint32_t* high = low + DIGITS;
    for (std::uint32_t i = 0; i < m; ++i) ++low[(items[i] >> LOW_SHIFT) & (DIGITS - 1)], ++high[items[i] >> HIGH_SHIFT];
    std::uint32_t low_total = 0, high_total = 0;
    for (std::uint32_t d = 0; d < DIGITS; ++d) {
        const std::uint32_t l = low[d], h = high[d];
        low[d] = low_total, high[d] = high_total;
        low_total += l, high_total += h;
    }
    for (std::uint32_t i = 0; i < m; ++i) spare[low[(items[i] >> LOW_SHIFT) & (DIGITS - 1)]++] = items[i];
    for (std::uint32_t i = 0; i < m; ++i) items[high[spare[i] >> HIGH_SHIFT]++] = spare[i];
    pool::checkpoint();
    for (std::uint32_t x = 0; x + LONG_RUN < m;) {
        if (items[x + LONG_RUN] >> LOW_SHIFT != items[x] >> LOW_SHIFT) {
            ++x;
            continue;
        }
        std::uint32_t y = x + LONG_RUN + 1;
        while (y < m && items[y] >> LOW_SHIFT == items[x] >> LOW_SHIFT) ++y;
        radix_parts(items + x, y - x, LOW_SHIFT, RADIX_RUN, spare);
        x = y;
    }
    insertion_pass(items, m);
}

}  // namespace

void sort_rotations(const std::uint16_t* values, std::uint32_t m, std::uint32_t radix, std::uint32_t* order,
                    RotationScratch& s) {
    if (m <= 1 || radix <= 1) {  // a single rotation, or all alike
        for (std::uint32_t i = 0; i < m; ++i) order[i] = i;
        return;
    }
    const Fold fold = find_fold(values, m, radix, s);
    const std::uint16_t* keyed = fold.active ? s.folded.data() : values;
    const Packing p = packing_for(fold.active ? radix - 1 : radix);
    s.items.resize(m);
    s.groups.clear();
    // The group lists trade places round after round: both get room for the
    // most there can be (groups of 2), so that neither grows once warm.
    s.groups.reserve(m);
    s.pending.reserve(m);
    std::uint64_t* items = s.items.data();
    for_each_key(keyed, m, fold.active ? radix - 1 : radix, p,
                 [&](std::uint32_t i, std::uint64_t key) { items[i] = (key << p.shift) | i; });
    if (fold.active) key_fold_seers(fold, m, radix - 1, p, items, s);
    pool::checkpoint();
    sort_items(items, m, s);
    pool::checkpoint();
    // The order, and the runs of equal keys.
    order[0] = start_of(items[0]);
    for (std::uint32_t x = 1; x < m; ++x) {
        order[x] = start_of(items[x]);
        if (key_of(items[x]) == key_of(items[x - 1])) [[unlikely]] {
            std::uint32_t y = x + 1;
            while (y < m && key_of(items[y]) == key_of(items[x])) order[y] = start_of(items[y]), ++y;
            s.groups.push_back(x - 1), s.groups.push_back(y);
            x = y - 1;
        }
    }
    if (fold.active && !s.groups.empty()) unfold_ties(values, m, p.width, fold, order, s);
    if (!s.groups.empty()) split_ties(order, m, static_cast<std::uint64_t>(p.width), s);
}

}  // namespace veltrane::bz2_length
