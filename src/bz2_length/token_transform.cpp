#include "bz2_length/token_transform.hpp"

#include "bz2_length/rotation_sort.hpp"
#include "bz2_length/token_plan.hpp"
#include "bz2_length/workspace.hpp"
#include "pool/cancel.hpp"

namespace veltrane::bz2_length {

namespace {

// The one rotation that follows the wrap token, which may be longer than a
// value or empty: every suffix dealt one by one.
void deal_wrap(const Token& wrap, std::size_t x, std::uint8_t* letters, const TokenPlan& p, std::uint8_t** next) {
    letters[p.next[0] + x] = p.last_letter[p.rank_of[WRAP_TOKEN]];
    for (int skip = 0; skip < wrap.length; ++skip) {
        const std::uint8_t before = skip == 0 ? ' ' : static_cast<std::uint8_t>(wrap.digits[skip - 1]);
        *next[p.bucket_of(wrap, skip)]++ = p.letter_of[before];
    }
}

// The deal, for values of at most `DEALS` digits, given the rank of the token
// before each rotation in order, and where the wrap token's turn comes.
template <int DEALS>
void deal(const std::uint16_t* before, std::size_t m, std::size_t wrap_turn, const DecimalBlock& block,
          std::uint8_t* letters, const TokenPlan& p) {
    std::uint8_t* empty_suffix = letters + p.next[0];
    std::uint8_t* next[TokenPlan::MAX_BUCKETS + DEALT];
    for (int b = 0; b < p.buckets + DEALT; ++b) next[b] = letters + p.next[b];
    for (std::size_t x = 0; x < m; ++x) {
        if (x == wrap_turn) [[unlikely]] {
            deal_wrap(block.wrap, x, letters, p, next);
            continue;
        }
        const std::uint16_t r = before[x];
        empty_suffix[x] = p.last_letter[r];
        const Deal* deals = p.deals[r].data();
        for (int d = 0; d < DEALS; ++d) {
            *next[deals[d].bucket] = deals[d].letter;
            next[deals[d].bucket] += deals[d].advance;
        }
    }
}

}  // namespace

Letters token_letters(const std::uint16_t* tokens, std::size_t count, const DecimalBlock& block, Workspace& ws) {
    TokenPlan& p = ws.plan;
    p.make(tokens, count, block);

    // The token sequence read from the first value, the wrap token last.
    const std::size_t m = count + 1;
    ws.values.resize(m);
    std::uint16_t* values = ws.values.data();
    for (std::size_t k = 0; k < count; ++k) values[k] = p.rank_of[tokens[k]];
    values[count] = p.rank_of[WRAP_TOKEN];
    ws.order.resize(m);
    sort_rotations(values, static_cast<std::uint32_t>(m), p.ranks, ws.order.data(), ws.rotations);
    pool::checkpoint();

    // The rank of the token before each rotation, in order: one pass of
    // independent reads, which the deal then takes in sequence.
    ws.before.resize(m);
    std::size_t wrap_turn = 0;
    for (std::size_t x = 0; x < m; ++x) {
        const std::uint32_t following = ws.order[x];
        wrap_turn = following == 0 ? x : wrap_turn;
        ws.before[x] = values[following == 0 ? m - 1 : following - 1];
    }
    // In the order of the rotation that follows, each token puts one letter in
    // the bucket of each of its suffixes ("" is the first bucket).
    ws.letters.resize(block.length + DEALT);
    if (p.longest_value <= 1) {
        deal<1>(ws.before.data(), m, wrap_turn, block, ws.letters.data(), p);
    } else if (p.longest_value == 2) {
        deal<2>(ws.before.data(), m, wrap_turn, block, ws.letters.data(), p);
    } else {
        deal<DEALT>(ws.before.data(), m, wrap_turn, block, ws.letters.data(), p);
    }
    pool::checkpoint();
    // The space's range, and the digits'.
    return {p.alphabet, 1 + (p.alphabet > 1)};
}

}  // namespace veltrane::bz2_length
