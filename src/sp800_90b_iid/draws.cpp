#include "sp800_90b_iid/draws.hpp"

#include <algorithm>
#include <utility>

#include "pool/cancel.hpp"
#include "sp800_90b_iid/draw_kernels.hpp"


namespace veltrane::sp800_90b::iid {

namespace {

// Rounds shorter than this many draws a lane are drawn one by one.
constexpr std::size_t MIN_LANE_DRAWS = 256;

// One lane's draws one by one: positions [from, to) of the round's stream,
// position p drawing for i = n - 1 - p.
void draw_lane(Xoshiro256& g, std::size_t n, std::size_t from, std::size_t to, std::uint32_t* out) {
    for (std::size_t p = from; p < to; ++p) {
        if ((p & 0xFFFF) == 0) pool::checkpoint();
        out[p] = static_cast<std::uint32_t>(g.draw(n - 1 - p));
    }
}


}  // namespace

// The lanes the processor draws side by side: 8 with AVX-512, 4 with AVX2,
// else one stream, one draw after the other.
unsigned RoundDraws::lanes_here() noexcept {
#if defined(__x86_64__)
    static const unsigned lanes = __builtin_cpu_supports("avx512f") ? 8 : __builtin_cpu_supports("avx2") ? 4 : 1;
    return lanes;
#else
    return 1;
#endif
}

RoundDraws::RoundDraws(std::size_t n, unsigned lanes)
    : n_(n), lanes_(lanes), stretch_((n - 1 + lanes - 1) / lanes), jump_(stretch_) {}

Xoshiro256::State RoundDraws::draw(const Xoshiro256::State& start, std::uint32_t* to) const {
    const std::size_t total = n_ - 1;
#if defined(__x86_64__)
    if (lanes_ > 1 && total >= MIN_LANE_DRAWS * lanes_) {
        Xoshiro256::State lanes[MAX_LANES];
        lanes[0] = start;
        for (unsigned k = 1; k < lanes_; ++k) lanes[k] = jump_.apply(lanes[k - 1]);
        const std::size_t last = total - (lanes_ - 1) * stretch_;  // the last lane's draws
        bool exact = lanes_ == 8 ? draw_lanes_avx512(lanes, n_, stretch_, last, to)
                                 : draw_lanes_avx2(lanes, n_, stretch_, last, to);
        for (unsigned k = 0; exact && k + 1 < lanes_; ++k) {
            Xoshiro256 g(lanes[k]);
            // The rest of each longer lane, watching for the same rare case.
            for (std::size_t p = k * stretch_ + last; p < (k + 1) * stretch_; ++p) {
                const std::size_t range = n_ - p;
                const unsigned __int128 m = static_cast<unsigned __int128>(g.next()) * range;
                exact = exact && static_cast<std::uint64_t>(m) >= range;
                to[p] = static_cast<std::uint32_t>(m >> 64);
            }
        }
        if (exact) return lanes[lanes_ - 1];
    }
#endif
    Xoshiro256 g(start);
    draw_lane(g, n_, 0, total, to);
    return g.state();
}

void swap_by(std::uint8_t* a, const std::uint32_t* to, std::size_t n) {
    for (std::size_t p = 0; p + 1 < n; ++p) {
        if ((p & 0xFFFF) == 0) pool::checkpoint();
        std::swap(a[n - 1 - p], a[to[p]]);
    }
}

}  // namespace veltrane::sp800_90b::iid
