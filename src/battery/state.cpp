#include "battery/state.hpp"

#include <stdexcept>
#include <string>

namespace veltrane::battery {

namespace {

// The first group boundary at or after `start`.
std::uint64_t gap_to_boundary(std::uint64_t start) { return (MC_GROUP - start % MC_GROUP) % MC_GROUP; }

// The range reaches a group boundary (or starts on one): from there on its
// groups are its own.
bool reaches_boundary(std::uint64_t start, std::uint64_t size) { return size >= gap_to_boundary(start); }

}  // namespace

std::uint64_t lead_length(std::uint64_t start, std::uint64_t size) {
    const std::uint64_t gap = gap_to_boundary(start);
    return size < gap ? size : gap;
}

std::uint64_t trail_length(std::uint64_t start, std::uint64_t size) {
    return reaches_boundary(start, size) ? (start + size) % MC_GROUP : 0;
}

std::uint64_t complete_groups(std::uint64_t start, std::uint64_t size) {
    if (!reaches_boundary(start, size)) return 0;
    const std::uint64_t first_boundary = start + gap_to_boundary(start);
    return ((start + size) / MC_GROUP) - first_boundary / MC_GROUP;
}

State empty_state(std::uint64_t start, bool case_folded) {
    State s;
    s.start = start;
    s.case_folded = case_folded;
    return s;
}

void append(State& earlier, const State& later) {
    const std::uint64_t end = earlier.start + earlier.size;  // never wraps: states keep start + size in range
    if (later.start != end) {
        throw std::invalid_argument("cannot merge battery states: the second piece starts at offset " +
                                    std::to_string(later.start) + ", not where the first ends (" +
                                    std::to_string(end) + ")");
    }
    if (later.case_folded != earlier.case_folded) {
        throw std::invalid_argument("cannot merge battery states: one piece was case-folded and the other was not");
    }
    if (later.size == 0) return;
    if (earlier.size == 0) {
        earlier = later;
        return;
    }

    const std::uint64_t mid_trail = trail_length(earlier.start, earlier.size);
    const std::uint64_t later_lead = lead_length(later.start, later.size);
    if (!reaches_boundary(earlier.start, earlier.size)) {
        // `earlier` lies inside one group's head: `later` continues that head.
        const std::uint64_t have = earlier.size;
        for (std::uint64_t i = 0; i < later_lead; ++i) earlier.lead[have + i] = later.lead[i];
    } else if (end % MC_GROUP != 0) {
        // The group cut at the seam: its head is earlier's trail, its rest later's lead.
        if (reaches_boundary(later.start, later.size)) {
            std::uint8_t group[MC_GROUP];
            for (std::uint64_t i = 0; i < mid_trail; ++i) group[i] = earlier.trail[i];
            for (std::uint64_t i = 0; i < later_lead; ++i) group[mid_trail + i] = later.lead[i];
            earlier.mc_groups += 1;
            earlier.mc_hits += mc_hit(group) ? 1 : 0;
        } else {
            // Still not complete: the whole of `later` joins the trail.
            for (std::uint64_t i = 0; i < later.size; ++i) earlier.trail[mid_trail + i] = later.lead[i];
        }
    }
    if (reaches_boundary(later.start, later.size)) earlier.trail = later.trail;

    for (std::size_t v = 0; v < 256; ++v) earlier.histogram[v] += later.histogram[v];
    earlier.adjacent_products += later.adjacent_products + UInt128{earlier.last} * later.first;
    earlier.seam_bit_pairs += later.seam_bit_pairs + ((earlier.last & (later.first >> 7)) & 1u);
    earlier.mc_groups += later.mc_groups;
    earlier.mc_hits += later.mc_hits;
    earlier.last = later.last;
    earlier.size += later.size;
}

State merge(const State& earlier, const State& later) {
    State result = earlier;
    append(result, later);
    return result;
}

}  // namespace veltrane::battery
