// The battery's naive reference, for the tests and the fuzz targets: every
// field of a state straight from its definition, one byte (or one group) at a
// time, with none of the fast pass's blocks, lanes, vectors or merges.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "battery/state.hpp"

namespace veltrane::battery::reference {

inline std::uint8_t fold_case(std::uint8_t v) {
    const bool capital = (v >= 'A' && v <= 'Z') || (v >= 0xC0 && v <= 0xDE && v != 0xD7);
    return capital ? static_cast<std::uint8_t>(v + 0x20) : v;
}

// The state of data[0, n) lying at offset `start` of its whole input.
inline State naive_state(const std::uint8_t* data, std::size_t n, std::uint64_t start, bool fold = false) {
    std::vector<std::uint8_t> b(data, data + n);
    if (fold) {
        for (auto& v : b) v = fold_case(v);
    }
    State s;
    s.start = start;
    s.size = n;
    s.case_folded = fold;
    for (std::uint8_t v : b) ++s.histogram[v];
    for (std::size_t i = 0; i + 1 < n; ++i) {
        s.adjacent_products += UInt128{b[i]} * b[i + 1];
        if ((b[i] & 1) && (b[i + 1] & 0x80)) ++s.seam_bit_pairs;
    }
    if (n > 0) {
        s.first = b[0];
        s.last = b[n - 1];
    }
    // Groups of the whole input are [6g, 6g + 6); a group is complete here when
    // it lies inside [start, end), cut when it only overlaps.
    const std::uint64_t end = start + n;
    std::size_t lead = 0, trail = 0;
    // lo + 6 may pass 2^64 - 1 near the top: distances, not ends, are compared.
    for (std::uint64_t lo = start / 6 * 6; lo < end; lo += 6) {
        if (lo >= start && end - lo >= 6) {
            const std::uint8_t* p = b.data() + (lo - start);
            // In doubles, as the quarter circle test was first written: every value is exact.
            const double x = p[0] * 65536.0 + p[1] * 256.0 + p[2];
            const double y = p[3] * 65536.0 + p[4] * 256.0 + p[5];
            ++s.mc_groups;
            if (x * x + y * y <= 16777215.0 * 16777215.0) ++s.mc_hits;
        } else if (lo < start) {
            for (std::uint64_t a = start; a - lo < 6 && a < end; ++a) s.lead[lead++] = b[a - start];
        } else {
            for (std::uint64_t a = lo; a < end; ++a) s.trail[trail++] = b[a - start];
        }
        if (end - lo <= 6) break;
    }
    return s;
}

// Equal as states: every field, the cut groups up to their lengths.
inline bool same_state(const State& a, const State& b) {
    if (a.start != b.start || a.size != b.size || a.case_folded != b.case_folded || a.histogram != b.histogram ||
        a.adjacent_products != b.adjacent_products || a.seam_bit_pairs != b.seam_bit_pairs || a.first != b.first ||
        a.last != b.last || a.mc_groups != b.mc_groups || a.mc_hits != b.mc_hits) {
        return false;
    }
    const std::uint64_t lead = lead_length(a.start, a.size), trail = trail_length(a.start, a.size);
    return std::memcmp(a.lead.data(), b.lead.data(), lead) == 0 &&
           std::memcmp(a.trail.data(), b.trail.data(), trail) == 0;
}

}  // namespace veltrane::battery::reference
