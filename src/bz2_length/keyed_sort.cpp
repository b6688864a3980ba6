#include "bz2_length/keyed_sort.hpp"

#include <utility>

namespace veltrane::bz2_length {

namespace {

constexpr std::size_t SHORT_RUN = 16;

void insertion_sort(KeyedRotation* items, std::size_t n) {
    for (std::size_t i = 1; i < n; ++i) {
        const KeyedRotation item = items[i];
        std::size_t j = i;
        while (j > 0 && items[j - 1].key > item.key) {
            items[j] = items[j - 1];
            --j;
        }
        items[j] = item;
    }
}

std::uint64_t median_of_three(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
    if (a > b) std::swap(a, b);
    if (b > c) std::swap(b, c);
    return a > b ? a : b;
}

}  // namespace

void sort_by_key(KeyedRotation* items, std::size_t n) {
    // The larger side is looped on, the smaller recursed into: depth O(log n).
    while (n > SHORT_RUN) {
        const std::uint64_t pivot = median_of_three(items[0].key, items[n / 2].key, items[n - 1].key);
        // Dijkstra's partition: [0, lt) below, [lt, i) equal, (gt, n) above.
        std::size_t lt = 0, i = 0, gt = n;
        while (i < gt) {
            const std::uint64_t k = items[i].key;
            if (k < pivot) {
                std::swap(items[lt++], items[i++]);
            } else if (k > pivot) {
                std::swap(items[i], items[--gt]);
            } else {
                ++i;
            }
        }
        const std::size_t below = lt, above = n - gt;
        if (below < above) {
            sort_by_key(items, below);
            items += gt;
            n = above;
        } else {
            sort_by_key(items + gt, above);
            n = below;
        }
    }
    insertion_sort(items, n);
}

}  // namespace veltrane::bz2_length
