#include "sp800_22/walk_steps.hpp"

#include <algorithm>

#include "pool/cancel.hpp"

namespace veltrane::sp800_22 {

WalkExtremes walk_extremes(const Bits& bits) {
    WalkExtremes e;
    std::int64_t s = 0;
    const std::uint64_t bytes = bits.size() / 8;
    for (std::uint64_t j = 0; j < bytes; ++j) {
        if ((j & 0xFFFF) == 0) pool::checkpoint();
        const ByteSteps& step = BYTE_STEPS[byte_at(bits, j)];
        e.highest = std::max(e.highest, s + step.highest);
        e.lowest = std::min(e.lowest, s + step.lowest);
        s += step.net;
    }
    for (std::uint64_t i = bytes * 8; i < bits.size(); ++i) {
        s += bits.bit(i) ? 1 : -1;
        e.highest = std::max(e.highest, s);
        e.lowest = std::min(e.lowest, s);
    }
    e.end = s;
    return e;
}

}  // namespace veltrane::sp800_22
