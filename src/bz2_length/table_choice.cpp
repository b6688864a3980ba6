#include "bz2_length/table_choice.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "bz2_length/code_lengths.hpp"
#include "bz2_length/format.hpp"
#include "bz2_length/small_selection.hpp"
#include "pool/cancel.hpp"

namespace veltrane::bz2_length {

namespace {

using Lengths = TableLengths;
using Counts = std::array<std::array<std::uint32_t, MAX_ALPHABET>, MAX_TABLES>;
constexpr int SMALL = SMALL_CODING_ALPHABET;

// A group's cost in every table at once: 10 bits per table hold up to 50 * 17.
constexpr int COST_FIELD = 10;
constexpr std::uint64_t COST_MASK = (1u << COST_FIELD) - 1;

void initial_tables(const std::uint32_t* freq, std::size_t count, int alphabet, int tables, Lengths& lengths) {
    std::uint64_t remaining = count;
    int first = 0;
    for (int part = tables; part > 0; --part) {
        const std::uint64_t target = remaining / part;
        int last = first - 1;
        std::uint64_t taken = 0;
        while (taken < target && last < alphabet - 1) taken += freq[++last];
        if (last > first && part != tables && part != 1 && (tables - part) % 2 == 1) taken -= freq[last--];
        for (int s = 0; s < alphabet; ++s) lengths[part - 1][s] = (s >= first && s <= last) ? 0 : 15;
        first = last + 1;
        remaining -= taken;
    }
}

std::array<std::uint64_t, MAX_ALPHABET> packed_lengths(const Lengths& lengths, int alphabet, int tables) {
    std::array<std::uint64_t, MAX_ALPHABET> packed{};
    for (int s = 0; s < alphabet; ++s)
        for (int t = 0; t < tables; ++t) packed[s] |= std::uint64_t{lengths[t][s]} << (COST_FIELD * t);
    return packed;
}

int cheapest(std::uint64_t packed, int tables) {
    int best = 0;
    std::uint64_t best_cost = packed & COST_MASK;
    for (int t = 1; t < tables; ++t) {
        const std::uint64_t cost = (packed >> (COST_FIELD * t)) & COST_MASK;
        if (cost < best_cost) best_cost = cost, best = t;
    }
    return best;
}

std::uint64_t selector_bits(const std::uint8_t* selectors, std::size_t groups, int tables) {
    std::array<std::uint8_t, MAX_TABLES> order;
    for (int t = 0; t < tables; ++t) order[t] = static_cast<std::uint8_t>(t);
    std::uint64_t bits = 0;
    for (std::size_t g = 0; g < groups; ++g) {
        int at = 0;
        while (order[at] != selectors[g]) ++at;
        std::copy_backward(order.begin(), order.begin() + at, order.begin() + at + 1);
        order[0] = selectors[g];
        bits += at + 1;
    }
    return bits;
}

std::uint64_t table_bits(const std::uint8_t* lengths, int alphabet) {
    std::uint64_t bits = TABLE_START_BITS;
    int current = lengths[0];
    for (int s = 0; s < alphabet; ++s) {
        bits += 2 * std::abs(lengths[s] - current) + 1;
        current = lengths[s];
    }
    return bits;
}

// The rounds and the final count, given a way to select each group's table:
// select(lengths, tables, selectors, counts coded by each table).
template <class Select>
std::uint64_t refine_and_count(const std::uint32_t* freq, std::size_t count, int alphabet, CodingScratch& scratch,
                               Select select) {
    const int tables = table_count(count);
    const std::size_t groups = (count + GROUP_SIZE - 1) / GROUP_SIZE;
    scratch.selectors.resize(groups);
    Lengths lengths{};
    Counts coded;
    initial_tables(freq, count, alphabet, tables, lengths);
    for (int round = 0; round < REFINEMENT_ROUNDS; ++round) {
        for (int t = 0; t < tables; ++t) std::fill_n(coded[t].begin(), alphabet, 0u);
        select(lengths, tables, scratch.selectors.data(), coded);
        for (int t = 0; t < tables; ++t) make_code_lengths(coded[t].data(), alphabet, LONGEST_CODE, lengths[t].data());
        pool::checkpoint();
    }
    std::uint64_t bits = TABLE_COUNT_BITS + SELECTOR_COUNT_BITS + selector_bits(scratch.selectors.data(), groups, tables);
    for (int t = 0; t < tables; ++t) {
        bits += table_bits(lengths[t].data(), alphabet);
        for (int s = 0; s < alphabet; ++s) bits += std::uint64_t{coded[t][s]} * lengths[t][s];
    }
    return bits;
}

}  // namespace

std::uint64_t coding_bits(const std::uint16_t* symbols, std::size_t count, int alphabet, CodingScratch& scratch) {
    std::array<std::uint32_t, MAX_ALPHABET> freq{};
    for (std::size_t i = 0; i < count; ++i) ++freq[symbols[i]];
    return refine_and_count(freq.data(), count, alphabet, scratch,
                            [&](const Lengths& lengths, int tables, std::uint8_t* selectors, Counts& coded) {
                                const auto packed = packed_lengths(lengths, alphabet, tables);
                                for (std::size_t begin = 0, g = 0; begin < count; begin += GROUP_SIZE, ++g) {
                                    const std::size_t end = std::min(count, begin + GROUP_SIZE);
                                    std::uint64_t cost = 0;
                                    for (std::size_t i = begin; i < end; ++i) cost += packed[symbols[i]];
                                    const int t = cheapest(cost, tables);
                                    selectors[g] = static_cast<std::uint8_t>(t);
                                    for (std::size_t i = begin; i < end; ++i) ++coded[t][symbols[i]];
                                }
                            });
}

std::uint64_t coding_bits_small(const std::uint8_t* counts, std::size_t count, int alphabet, CodingScratch& scratch) {
    const std::size_t groups = (count + GROUP_SIZE - 1) / GROUP_SIZE;
    std::array<std::uint32_t, MAX_ALPHABET> freq{};
    for (std::size_t g = 0; g < groups; ++g)
        for (int s = 0; s < SMALL; ++s) freq[s] += counts[g * SMALL + s];
    return refine_and_count(freq.data(), count, alphabet, scratch,
                            [&](const Lengths& lengths, int tables, std::uint8_t* selectors, Counts& coded) {
                                // Symbols beyond the alphabet have no counts: their lengths do not matter.
                                SmallCounts sums{};
                                select_small(counts, groups, tables, lengths, selectors, sums);
                                for (int t = 0; t < tables; ++t) std::copy_n(sums[t].begin(), alphabet, coded[t].begin());
                            });
}

}  // namespace veltrane::bz2_length
