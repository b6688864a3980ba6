// LZ78Y's dictionary on bits (k == 2), which dominate the run time (a bitstring
// is eight times as long as its bytes): the contexts of all lengths 1..16 with
// both successor counts of each, with no hashing. The most frequent successor
// follows from the pair (1 on a tie, as in ContextDictionary). A context is
// known once a count of its cell is nonzero: LZ78Y counts a successor when it
// admits a context. (MultiMMC on bits plays its orders one at a time, each with
// a flat table of its own.)
//
// A step reads the 16 contexts ending at one place. Those up to 10 bits (16 KB
// at most) stay in the L1 cache; the longer ones would be six scattered reads.
// So the contexts of 11..13 bits sharing their last 11 bits form one block (1 +
// 2 + 4 cells), as do those of 14..16 bits sharing the last 14: two blocks a
// step, both known in advance from the data, each within one cache line.
//
// The long contexts' counts are Long, narrower than Count by default: each is
// at most n / 2^11 on data that looks random, and 16-bit cells keep the blocks
// (576 KB) in the L2 cache where 32-bit ones (1.15 MB) spill out of it. Data
// that counts one of them past half of Long's range moves on to a table of
// Count cells (widened()), before any can overflow.
#pragma once

#include <cstdint>
#include <vector>

namespace veltrane::sp800_90b {

// A context's two successor counts.
template <class C>
struct BitCounts {
    using value_type = C;
    C n[2] = {0, 0};
};

template <class Count, class Long = Count>
class BinaryContexts {
public:
    static constexpr unsigned LONGEST = 16;
    static constexpr unsigned FLAT = 10;  // lengths 1..FLAT: short_cell, the others long_cell

    using Cell = BitCounts<Count>;
    using LongCell = BitCounts<Long>;

    BinaryContexts() : short_(std::size_t{2} << FLAT), long_(LONG_SIZE + ALIGN) {
        // blocks start on a cache line
        const auto at = reinterpret_cast<std::uintptr_t>(long_.data());
        base_ = long_.data() + ((64 - at % 64) % 64) / sizeof(LongCell);
    }
    // base_ points into long_, whose buffer a move keeps and a copy would not
    BinaryContexts(const BinaryContexts&) = delete;
    BinaryContexts(BinaryContexts&&) = default;
    BinaryContexts& operator=(BinaryContexts&&) = default;

    // The cell of the last d bits of `history` (newest in the low bit), d <= FLAT.
    Cell& short_cell(std::uint32_t history, unsigned d) {
        return short_[(std::uint32_t{1} << d) | (history & ((std::uint32_t{1} << d) - 1))];
    }
    // The same for FLAT < d <= LONGEST.
    LongCell& long_cell(std::uint32_t history, unsigned d) { return base_[long_index(history, d)]; }

    // Whether a count of `peak` (the OR of the long counts read) may reach
    // Long's limit within the next 64 steps: then it is time to widen.
    static bool crowded(Long peak) {
        if constexpr (sizeof(Long) >= sizeof(Count)) {
            return false;
        } else {
            return (peak >> (8 * sizeof(Long) - 1)) != 0;
        }
    }

    // The same counts in Count cells throughout.
    BinaryContexts<Count> widened() const {
        BinaryContexts<Count> wide;
        wide.short_ = short_;
        for (std::size_t at = 0; at < LONG_SIZE; ++at) {
            wide.base_[at].n[0] = base_[at].n[0];
            wide.base_[at].n[1] = base_[at].n[1];
        }
        return wide;
    }

    // Asks for the two blocks of the contexts ending where `history` ends; the
    // predictors do so this many steps before they read them.
    static constexpr std::size_t LOOKAHEAD = 12;
    void prefetch(std::uint32_t history) const {
        for (unsigned g : {BLOCKED_1, BLOCKED_2}) {
            const LongCell* block = &base_[long_index(history, g)];
            __builtin_prefetch(block);
            if constexpr (sizeof(LongCell) * BLOCK > 64) __builtin_prefetch(block + BLOCK / 2);
        }
    }

private:
    template <class, class>
    friend class BinaryContexts;

    static constexpr unsigned BLOCKED_1 = 11, BLOCKED_2 = 14;
    static constexpr std::uint32_t BLOCK = 8;  // cells a block: 7 used
    static constexpr std::uint32_t FIRST_2 = (std::uint32_t{1} << BLOCKED_1) * BLOCK;
    static constexpr std::size_t LONG_SIZE = FIRST_2 + (std::size_t{1} << BLOCKED_2) * BLOCK;
    static constexpr std::size_t ALIGN = 64 / sizeof(LongCell) + 1;
    static_assert(BLOCKED_2 + 2 == LONGEST && BLOCKED_1 == FLAT + 1 && BLOCKED_2 == BLOCKED_1 + 3);
    static_assert(64 % (sizeof(LongCell) * BLOCK) == 0 || (sizeof(LongCell) * BLOCK) % 64 == 0);

    static std::uint32_t long_index(std::uint32_t history, unsigned d) {
        const unsigned g = d <= BLOCKED_1 + 2 ? BLOCKED_1 : BLOCKED_2;
        const std::uint32_t first = g == BLOCKED_1 ? 0 : FIRST_2;
        const unsigned extra = d - g;  // the bits beyond the block's own
        const std::uint32_t within = ((std::uint32_t{1} << extra) - 1) + ((history >> g) & ((std::uint32_t{1} << extra) - 1));
        return first + (history & ((std::uint32_t{1} << g) - 1)) * BLOCK + within;
    }

    std::vector<Cell> short_;
    std::vector<LongCell> long_;
    LongCell* base_;
};

}  // namespace veltrane::sp800_90b
