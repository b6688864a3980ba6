// LZ78Y's dictionary on bits (k == 2), which dominate the run time (a bitstring
// is eight times as long as its bytes): the contexts of all lengths 1..16 with
// both successor counts of each, with no hashing.
//
// A step touches the 16 contexts ending at one place. Those up to 10 bits (16 KB
// of 32-bit counts) stay in the L1 cache; the longer ones would be six
// scattered reads. So the contexts of 11..13 bits sharing their last 11 bits
// form one block (1 + 2 + 4 cells), as do those of 14..16 bits sharing the last
// 14: two blocks a step, both known in advance from the data, each one cache
// line of 32-bit counts.
#pragma once

#include <cstdint>
#include <vector>

namespace veltrane::sp800_90b {

template <class Count>
class BinaryContexts {
public:
    static constexpr unsigned LONGEST = 16;
    static constexpr unsigned FLAT = 10;  // lengths 1..FLAT in the flat part, the others in blocks

    // A context's two successor counts, n[0] and n[1], in the tables.
    struct Cell {
        Count* n;
    };

    BinaryContexts() : short_(std::size_t{4} << FLAT, 0), long_(2 * (LONG_SIZE + ALIGN), 0) {
        // blocks start on a cache line
        const auto at = reinterpret_cast<std::uintptr_t>(long_.data());
        base_ = long_.data() + ((64 - at % 64) % 64) / sizeof(Count);
    }
    // base_ points into long_, whose buffer a copy would not share
    BinaryContexts(const BinaryContexts&) = delete;
    BinaryContexts& operator=(const BinaryContexts&) = delete;

    // The cell of the last d bits of `history` (newest in the low bit), 1 <= d <= 16.
    Cell cell(std::uint32_t history, unsigned d) {
        if (d <= FLAT) return {&short_[2 * ((std::uint32_t{1} << d) | (history & ((std::uint32_t{1} << d) - 1)))]};
        return {base_ + 2 * long_index(history, d)};
    }

    // Adds one to the count of x after each of the contexts ending where
    // `history` ends. A short context's count of x sits at 2^(d+1) + the last
    // d bits of history followed by x: a mask and an add each.
    void count(std::uint32_t history, unsigned x) {
        const std::uint32_t with_x = (history << 1) | x;
#pragma GCC unroll 16
        for (unsigned d = 1; d <= FLAT; ++d) ++short_[(std::uint32_t{2} << d) + (with_x & ((std::uint32_t{2} << d) - 1))];
        Count* const first = base_ + 2 * long_index(history, BLOCKED_1) + x;
        Count* const second = base_ + 2 * long_index(history, BLOCKED_2) + x;
        ++first[0];
        ++first[2 * (1 + ((history >> BLOCKED_1) & 1))];
        ++first[2 * (3 + ((history >> BLOCKED_1) & 3))];
        ++second[0];
        ++second[2 * (1 + ((history >> BLOCKED_2) & 1))];
        ++second[2 * (3 + ((history >> BLOCKED_2) & 3))];
    }

    // Every cell, used or not (the blocks' spare ones included).
    template <class F>
    void for_each_cell(F&& f) {
        for (std::size_t at = 0; at < short_.size(); at += 2) f(Cell{&short_[at]});
        for (std::size_t at = 0; at < 2 * LONG_SIZE; at += 2) f(Cell{base_ + at});
    }

    // Asks for the two blocks of the contexts ending where `history` ends; the
    // predictor does so this many steps before it touches them.
    static constexpr std::size_t LOOKAHEAD = 12;
    void prefetch(std::uint32_t history) const {
        for (unsigned g : {BLOCKED_1, BLOCKED_2}) {
            const Count* block = base_ + 2 * long_index(history, g);
            __builtin_prefetch(block);
            if constexpr (2 * sizeof(Count) * BLOCK > 64) __builtin_prefetch(block + BLOCK);
        }
    }

private:
    static constexpr unsigned BLOCKED_1 = 11, BLOCKED_2 = 14;
    static constexpr std::uint32_t BLOCK = 8;  // cells a block: 7 used
    static constexpr std::uint32_t FIRST_2 = (std::uint32_t{1} << BLOCKED_1) * BLOCK;
    static constexpr std::size_t LONG_SIZE = FIRST_2 + (std::size_t{1} << BLOCKED_2) * BLOCK;  // cells
    static constexpr std::size_t ALIGN = 64 / (2 * sizeof(Count)) + 1;                         // cells
    static_assert(BLOCKED_2 + 2 == LONGEST && BLOCKED_1 == FLAT + 1 && BLOCKED_2 == BLOCKED_1 + 3);
    static_assert(64 % (2 * sizeof(Count) * BLOCK) == 0 || (2 * sizeof(Count) * BLOCK) % 64 == 0);

    // The index of the cell of the last d bits of history among the blocks.
    static std::uint32_t long_index(std::uint32_t history, unsigned d) {
        const unsigned g = d <= BLOCKED_1 + 2 ? BLOCKED_1 : BLOCKED_2;
        const std::uint32_t first = g == BLOCKED_1 ? 0 : FIRST_2;
        const unsigned extra = d - g;  // the bits beyond the block's own
        const std::uint32_t within = ((std::uint32_t{1} << extra) - 1) + ((history >> g) & ((std::uint32_t{1} << extra) - 1));
        return first + (history & ((std::uint32_t{1} << g) - 1)) * BLOCK + within;
    }

    std::vector<Count> short_, long_;  // two counts a cell
    Count* base_;
};

}  // namespace veltrane::sp800_90b
