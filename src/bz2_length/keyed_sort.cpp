#include "bz2_length/keyed_sort.hpp"

#include <utility>

#include "bz2_length/rotation_sort.hpp"

namespace veltrane::bz2_length {

namespace {

constexpr std::size_t SHORT_RUN = 16;

std::uint64_t key_of(std::uint64_t item) { return item >> START_BITS; }

void insertion_sort(std::uint64_t* items, std::size_t n) {
    for (std::size_t i = 1; i < n; ++i) {
        const std::uint64_t item = items[i];
        std::size_t j = i;
        while (j > 0 && key_of(items[j - 1]) > key_of(item)) {
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

void sort_by_key(std::uint64_t* items, std::size_t n) {
    // The larger side is looped on, the smaller recursed into: depth O(log n).
    while (n > SHORT_RUN) {
        const std::uint64_t pivot = median_of_three(key_of(items[0]), key_of(items[n / 2]), key_of(items[n - 1]));
        // Dijkstra's partition: [0, lt) below, [lt, i) equal, [gt, n) above.
        std::size_t lt = 0, i = 0, gt = n;
        while (i < gt) {
            const std::uint64_t k = key_of(items[i]);
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
