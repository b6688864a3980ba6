#include "bz2_length/keyed_sort.hpp"

#include <algorithm>
#include <utility>

namespace veltrane::bz2_length {

namespace {

constexpr std::size_t SHORT_RUN = 16;

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

void insertion_pass(std::uint64_t* items, std::uint32_t m) {
    if (m == 0) return;
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

void radix_parts(std::uint64_t* items, std::uint32_t n, int shift, std::uint32_t small, std::uint64_t* spare) {
    while (shift > START_BITS) {
        if (n <= small) {
            // Starts differ, so whole items sort as their keys do, equal keys aside.
            std::sort(items, items + n);
            return;
        }
        const int width = std::min(8, shift - START_BITS);
        shift -= width;
        const std::uint64_t mask = (std::uint64_t{1} << width) - 1;
        std::uint32_t start[257] = {};
        for (std::uint32_t x = 0; x < n; ++x) ++start[((items[x] >> shift) & mask) + 1];
        // All alike in these bits (long ties): nothing to move.
        if (start[((items[0] >> shift) & mask) + 1] == n) continue;
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
            if (d != largest) radix_parts(items + start[d], start[d + 1] - start[d], shift, small, spare);
        items += start[largest];
        n = start[largest + 1] - start[largest];
    }
}

}  // namespace veltrane::bz2_length
