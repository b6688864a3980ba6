// The contested blocks of the scoreboard: from each takeover to the next, every
// contender's first chance to take over from the current winner is found by
// walking its lead four places at a time, and only the place of the earliest
// is played subpredictor by subpredictor.
#include "sp800_90b/scoreboard.hpp"

#include <array>
#include <cstdint>

#if VELTRANE_SP800_VECTORS
#include <immintrin.h>
#endif

namespace veltrane::sp800_90b {

namespace {

// A contender takes over for good at a place it was right where its score,
// with that point, reaches the winner's with the winner's point there. (One
// before the winner in index order also takes over where the two were right
// and were level, but only until the winner scores at that same place.) With
// e = the contender's gains minus the winner's since some start, that is e
// after the place reaching the lead the winner had at the start.
//
// What four places of the contender's hits (a) and the winner's (b) do: `net`,
// e's change over the four; `reach`, the highest e after a place where the
// contender was right (-64 where a is empty).
struct Quad {
    std::int8_t net, reach;
};

constexpr std::array<Quad, 256> make_quads() {
    std::array<Quad, 256> out{};
    for (unsigned a = 0; a < 16; ++a) {
        for (unsigned b = 0; b < 16; ++b) {
            int e = 0, reach = -64;
            for (unsigned i = 0; i < 4; ++i) {
                const int ai = (a >> i) & 1, bi = (b >> i) & 1;
                e += ai - bi;
                if (ai && e > reach) reach = e;
            }
            out[a * 16 + b] = {static_cast<std::int8_t>(e), static_cast<std::int8_t>(reach)};
        }
    }
    return out;
}

constexpr std::array<Quad, 256> QUADS = make_quads();

constexpr unsigned NEVER = 64;

std::uint64_t below(unsigned t) { return t >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << t) - 1; }

// The first place in [from, limit) where a contender with hits `a`, `lead`
// points behind the winner (hits `b`) at `from`, takes over; NEVER if none.
unsigned first_takeover(std::uint64_t a, std::uint64_t b, std::int64_t lead, unsigned from, unsigned limit) {
    a &= ~below(from);
    b &= ~below(from);
    // e climbs only where the contender alone was right.
    if (static_cast<std::int64_t>(util::popcount64(a & ~b)) < lead) return NEVER;
    std::int64_t e = 0;
    for (unsigned q = from / 4; 4 * q < limit; ++q) {
        const unsigned qa = static_cast<unsigned>(a >> (4 * q)) & 15, qb = static_cast<unsigned>(b >> (4 * q)) & 15;
        const Quad& quad = QUADS[qa * 16 + qb];
        if (e + quad.reach >= lead) {
            for (unsigned i = 0; i < 4; ++i) {
                const int ai = (qa >> i) & 1, bi = (qb >> i) & 1;
                e += ai - bi;
                if (ai && e >= lead) return 4 * q + i < limit ? 4 * q + i : NEVER;
            }
        }
        e += quad.net;
    }
    return NEVER;
}

}  // namespace

#if VELTRANE_SP800_VECTORS
[[gnu::target(VELTRANE_SP800_VECTOR_TARGET)]] std::uint64_t Scoreboard::play_vectors(const std::uint64_t* hits, unsigned len) {
    const std::uint64_t all = len == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << len) - 1;
    const std::uint64_t own = hits[winner_] & all;
    const __m512i mask = _mm512_set1_epi64(static_cast<long long>(all));
    const __m512i winner_missed = _mm512_set1_epi64(static_cast<long long>(~own));
    const __m512i top = _mm512_set1_epi64(static_cast<long long>(score_[winner_]));
    const auto count = static_cast<unsigned>(score_.size());
    unsigned contenders = 0;
    for (unsigned first = 0; first < count; first += 8) {
        const auto lanes = static_cast<__mmask8>(count - first >= 8 ? 0xFF : (1u << (count - first)) - 1);
        const __m512i h = _mm512_and_si512(_mm512_maskz_loadu_epi64(lanes, hits + first), mask);
        const __m512i before = _mm512_maskz_loadu_epi64(lanes, score_.data() + first);
        const __m512i after = _mm512_add_epi64(before, _mm512_popcnt_epi64(h));
        _mm512_mask_storeu_epi64(score_.data() + first, lanes, after);
        __mmask8 maybe = _mm512_mask_cmpge_epu64_mask(lanes, after, top);
        if (maybe == 0) continue;
        const __m512i closing = _mm512_add_epi64(before, _mm512_popcnt_epi64(_mm512_and_si512(winner_missed, h)));
        maybe = _mm512_mask_cmpge_epu64_mask(maybe, closing, top);
        if (winner_ - first < 8) maybe &= static_cast<__mmask8>(~(1u << (winner_ - first)));
        if (maybe == 0) continue;
        alignas(64) std::uint64_t scores[8];
        _mm512_store_si512(scores, before);
        for (unsigned m = maybe; m != 0; m &= m - 1) {
            const auto lane = static_cast<unsigned>(__builtin_ctz(m));
            start_[contenders] = scores[lane];
            contenders_[contenders++] = first + lane;
        }
    }
    if (contenders == 0) return own;
    return contest(hits, all, contenders);
}
#else
std::uint64_t Scoreboard::play_vectors(const std::uint64_t*, unsigned) { return 0; }  // never called: no vectors
#endif

std::uint64_t Scoreboard::contest(const std::uint64_t* hits, std::uint64_t all, unsigned count) {
    // The members: the contenders and the winner, in index order.
    unsigned members = 0, w = 0;
    std::uint64_t* start = start_.data();
    unsigned* index = contenders_.data();
    {
        unsigned at = count;
        while (at > 0 && index[at - 1] > winner_) {
            index[at] = index[at - 1], start[at] = start[at - 1];
            --at;
        }
        index[at] = winner_;
        start[at] = score_[winner_] - util::popcount64(hits[winner_] & all);
        w = at;
        members = count + 1;
    }
    const unsigned len = all == ~std::uint64_t{0} ? 64 : static_cast<unsigned>(util::popcount64(all));
    std::uint64_t right = 0;
    unsigned from = 0;
    while (from < len) {
        const std::uint64_t own = hits[index[w]] & all;
        const std::uint64_t own_before = start[w] + util::popcount64(own & below(from));
        unsigned first = NEVER;
        for (unsigned m = 0; m < members; ++m) {
            if (m == w) continue;
            const std::uint64_t h = hits[index[m]] & all;
            const std::uint64_t mine = start[m] + util::popcount64(h & below(from));
            const unsigned limit = first < len ? first : len;
            const unsigned t = first_takeover(h, own, static_cast<std::int64_t>(own_before - mine), from, limit);
            if (t < first) first = t;
        }
        if (first >= len) {
            right |= own & ~below(from);
            break;
        }
        // The winner predicts up to and including that place; there every
        // member scores and may take over, in index order.
        right |= own & ~below(from) & below(first + 1);
        std::uint64_t* score = scores_.data();
        for (unsigned m = 0; m < members; ++m) score[m] = start[m] + util::popcount64(hits[index[m]] & all & below(first));
        unsigned next = w;
        for (unsigned m = 0; m < members; ++m) {
            if ((hits[index[m]] >> first) & 1) {
                if (++score[m] >= score[next]) next = m;
            }
        }
        w = next;
        from = first + 1;
    }
    winner_ = index[w];
    return right;
}

}  // namespace veltrane::sp800_90b
