// The vector kernels of RoundDraws (x86-64 only; the caller checks the
// processor). Each runs `lanes` streams side by side for `steps` draws, lane k
// drawing for the positions k * stretch + t (range n - k * stretch - t) into
// out, its state in and out of lanes[k]. Returns false if some draw's low word
// fell below its range, where the one-by-one draw might draw again.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sp800_90b_iid/xoshiro.hpp"

namespace veltrane::sp800_90b::iid {

#if defined(__x86_64__)
bool draw_lanes_avx2(Xoshiro256::State* lanes, std::size_t n, std::size_t stretch, std::size_t steps,
                     std::uint32_t* out);  // four lanes
bool draw_lanes_avx512(Xoshiro256::State* lanes, std::size_t n, std::size_t stretch, std::size_t steps,
                       std::uint32_t* out);  // eight lanes
#endif

}  // namespace veltrane::sp800_90b::iid
