// LZ78Y's dictionary on bits (k == 2), which dominate the run time (a bitstring
// is eight times as long as its bytes): the contexts of all lengths 1..16 in one
// array of cells, each holding both successor counts, with no hashing. The most
// frequent successor follows from the pair (1 on a tie, as in
// ContextDictionary). A context is known once a count of its cell is nonzero:
// LZ78Y counts a successor when it admits a context. (MultiMMC on bits plays
// its orders one at a time, each with a flat table of its own.)
//
// A step reads the 16 contexts ending at one place. Those up to 10 bits (16 KB)
// stay in the L1 cache; the longer ones would be six scattered reads. So the
// contexts of 11..13 bits sharing their last 11 bits form one 64-byte block (1 +
// 2 + 4 cells), as do those of 14..16 bits sharing the last 14: two cache lines a
// step, both known in advance from the data.
#pragma once

#include <cstdint>
#include <vector>

namespace veltrane::sp800_90b {

template <class Count>
class BinaryContexts {
public:
    static constexpr unsigned LONGEST = 16;

    struct Cell {
        Count n[2] = {0, 0};
    };

    BinaryContexts() : cells_(SIZE + ALIGN) {
        // blocks start on a cache line
        const auto at = reinterpret_cast<std::uintptr_t>(cells_.data());
        base_ = cells_.data() + ((64 - at % 64) % 64) / sizeof(Cell);
    }

    // The cell of the last d bits of `history` (newest in the low bit).
    static std::uint32_t index(std::uint32_t history, unsigned d) {
        if (d <= FLAT) return (std::uint32_t{1} << d) | (history & ((std::uint32_t{1} << d) - 1));
        const unsigned g = d <= BLOCKED_1 + 2 ? BLOCKED_1 : BLOCKED_2;
        const std::uint32_t first = g == BLOCKED_1 ? FIRST_1 : FIRST_2;
        const unsigned extra = d - g;  // the bits beyond the block's own
        const std::uint32_t within = ((std::uint32_t{1} << extra) - 1) + ((history >> g) & ((std::uint32_t{1} << extra) - 1));
        return first + (history & ((std::uint32_t{1} << g) - 1)) * BLOCK + within;
    }

    Cell& operator[](std::uint32_t at) { return base_[at]; }

    // Asks for the two blocks of the contexts ending where `history` ends; the
    // predictors do so this many steps before they read them.
    static constexpr std::size_t LOOKAHEAD = 12;
    void prefetch(std::uint32_t history) const {
        __builtin_prefetch(&base_[index(history, BLOCKED_1)]);
        if constexpr (sizeof(Cell) * BLOCK > 64) __builtin_prefetch(&base_[index(history, BLOCKED_1)] + BLOCK / 2);
        __builtin_prefetch(&base_[index(history, BLOCKED_2)]);
        if constexpr (sizeof(Cell) * BLOCK > 64) __builtin_prefetch(&base_[index(history, BLOCKED_2)] + BLOCK / 2);
    }

private:
    static constexpr unsigned FLAT = 10, BLOCKED_1 = 11, BLOCKED_2 = 14;
    static constexpr std::uint32_t BLOCK = 8;  // cells a block: 7 used
    static constexpr std::uint32_t FIRST_1 = std::uint32_t{2} << FLAT;
    static constexpr std::uint32_t FIRST_2 = FIRST_1 + (std::uint32_t{1} << BLOCKED_1) * BLOCK;
    static constexpr std::size_t SIZE = FIRST_2 + (std::size_t{1} << BLOCKED_2) * BLOCK;
    static constexpr std::size_t ALIGN = 64 / sizeof(Cell) + 1;
    static_assert(BLOCKED_2 + 2 == LONGEST && BLOCKED_1 == FLAT + 1 && BLOCKED_2 == BLOCKED_1 + 3);

    std::vector<Cell> cells_;
    Cell* base_;
};

}  // namespace veltrane::sp800_90b
