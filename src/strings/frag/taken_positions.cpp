#include "strings/frag/taken_positions.hpp"

#include <bit>

namespace veltrane::strings::frag {

TakenPositions::TakenPositions(std::uint64_t n) : n_(n), free_(n) {
    std::uint64_t bits = n;
    do {
        const std::uint64_t words = bits / 64 + 1;
        levels_.emplace_back(static_cast<std::size_t>(words), 0);
        bits = words;
    } while (bits > 1);
}

std::uint64_t TakenPositions::next_taken(std::uint64_t x) const {
    if (x >= n_) return n_;
    // Climb while the rest of the current word holds nothing at or after x.
    std::size_t level = 0;
    std::uint64_t index = x;
    for (;;) {
        const std::uint64_t word = levels_[level][index / 64] & (~std::uint64_t{0} << (index % 64));
        if (word != 0) {
            index = (index / 64) * 64 + static_cast<std::uint64_t>(std::countr_zero(word));
            break;
        }
        if (level + 1 == levels_.size()) return n_;
        ++level;
        index = index / 64 + 1;  // the next word at the level below
        if (index / 64 >= levels_[level].size()) return n_;
    }
    // Descend to the first set bit of each word below.
    while (level > 0) {
        --level;
        const std::uint64_t word = levels_[level][index];
        index = index * 64 + static_cast<std::uint64_t>(std::countr_zero(word));
    }
    return index < n_ ? index : n_;
}

void TakenPositions::take(std::uint64_t start, std::uint64_t end) {
    if (start >= end) return;
    free_ -= end - start;
    std::vector<std::uint64_t>& bits = levels_[0];
    const std::uint64_t first = start / 64, last = (end - 1) / 64;
    for (std::uint64_t w = first; w <= last; ++w) {
        const std::uint64_t lo = w == first ? start % 64 : 0;
        const std::uint64_t hi = w == last ? (end - 1) % 64 + 1 : 64;
        const std::uint64_t mask = (hi == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << hi) - 1) &
                                   (~std::uint64_t{0} << lo);
        bits[w] |= mask;
    }
    // Summary bits of the touched words, level by level.
    std::uint64_t lo_word = first, hi_word = last;
    for (std::size_t level = 1; level < levels_.size(); ++level) {
        for (std::uint64_t w = lo_word; w <= hi_word; ++w) levels_[level][w / 64] |= std::uint64_t{1} << (w % 64);
        lo_word /= 64;
        hi_word /= 64;
    }
}

}  // namespace veltrane::strings::frag
