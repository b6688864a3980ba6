// ContextDictionary's counterpart for bits (k == 2), which dominate the run time
// (a bitstring is eight times as long as its bytes): one cell per context of
// `length` bits holding both successor counts, so a step touches one cell per
// length, and the most frequent successor (1 on a tie, as in ContextDictionary)
// follows from the pair. Same interface, so the predictors take either.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "context_dictionary.hpp"

namespace veltrane::sp800_90b {

class BinaryContexts {
public:
    using Code = std::uint32_t;
    static constexpr std::uint32_t NONE = ~std::uint32_t{0};

    BinaryContexts(unsigned length, unsigned /*bits: always 1*/, std::size_t /*expected*/) : cells_(std::size_t{1} << length) {}

    // find, best and best_count in one read of the cell.
    ContextHit lookup(Code code) const {
        const Cell c = cells_[code];
        if ((c.n[0] | c.n[1]) == 0) return ContextHit{};
        return ContextHit{code, std::max(c.n[0], c.n[1]), static_cast<std::uint8_t>(c.n[1] >= c.n[0])};
    }

    std::uint32_t find(Code code) const { return (cells_[code].n[0] | cells_[code].n[1]) != 0 ? code : NONE; }

    // Asks for the cell of a context needed a few steps later: with contexts
    // of 11 bits and more the cells leave the core's cache, and the data says
    // which are coming.
    static constexpr unsigned FIRST_PREFETCHED = 11;  // the shorter ones stay in the L1 cache
    void prefetch(Code code) const { __builtin_prefetch(&cells_[code]); }

    std::uint32_t add(Code code, std::uint8_t y) {
        ++contexts_;
        increment(code, y, true);
        return code;
    }

    void increment(std::uint32_t e, std::uint8_t y, bool admit) {
        std::uint32_t& n = cells_[e].n[y];
        if (n == 0) {
            if (!admit) return;
            ++pairs_;
        }
        ++n;
    }

    std::uint8_t best(std::uint32_t e) const { return cells_[e].n[1] >= cells_[e].n[0]; }
    std::uint32_t best_count(std::uint32_t e) const { return std::max(cells_[e].n[0], cells_[e].n[1]); }

    std::size_t contexts() const { return contexts_; }
    std::size_t pairs() const { return pairs_; }

private:
    struct Cell {
        std::uint32_t n[2] = {0, 0};
    };
    std::vector<Cell> cells_;
    std::size_t contexts_ = 0, pairs_ = 0;
};

}  // namespace veltrane::sp800_90b
