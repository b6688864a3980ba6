#include "bz2_length/token_transform.hpp"

#include <algorithm>
#include <array>

#include "bz2_length/rotation_sort.hpp"
#include "bz2_length/workspace.hpp"
#include "pool/cancel.hpp"

namespace veltrane::bz2_length {

namespace {

// Token 256 is the block's wrap token; 0..255 are values.
constexpr int WRAP = 256;
constexpr int TOKEN_KINDS = 257;

// A value's token puts at most 4 letters: for its whole spelling (the space
// before it), for its suffixes of 2 and 1 digits (a digit), and for its empty
// suffix (its last digit). The empty suffix's bucket takes one letter per
// token, in rotation order, so it is written in place; the other three are
// dealt out, a shorter token dealing its missing ones to a slot of its own
// that never advances.
constexpr int DEALT = 3;

struct Deal {
    std::uint16_t bucket;
    std::uint8_t letter;
    std::uint8_t advance;
};

struct Plan {
    std::array<std::uint32_t, TOKEN_KINDS> count{};
    std::array<const Token*, TOKEN_KINDS> spelling{};
    std::array<std::uint16_t, TOKEN_KINDS> rank_of{};
    std::array<std::uint8_t, 256> letter_of{};
    std::uint32_t ranks = 0;
    // By rank: the deals, and the letter for the empty suffix.
    std::vector<std::array<Deal, DEALT>> deals;
    std::vector<std::uint8_t> last_letter;
    std::vector<std::uint32_t> keys;  // the buckets' strings, in order
    std::vector<std::uint32_t> next;  // where each bucket's next letter goes; then the idle slots
};

std::uint32_t suffix_key(const Token& t, int skip) { return string_order_key(t.digits + skip, t.length - skip); }

std::uint16_t bucket_of(const Plan& p, std::uint32_t key) {
    return static_cast<std::uint16_t>(std::lower_bound(p.keys.begin(), p.keys.end(), key) - p.keys.begin());
}

// Ranks the tokens present, in string order, equal spellings alike; returns a
// token of each rank.
std::vector<int> rank_tokens(const std::vector<int>& present, Plan& p) {
    std::vector<std::pair<std::uint32_t, int>> keyed;
    for (int id : present) keyed.push_back({suffix_key(*p.spelling[id], 0), id});
    std::sort(keyed.begin(), keyed.end());
    std::vector<int> of_rank;
    for (std::size_t k = 0; k < keyed.size(); ++k) {
        if (k == 0 || keyed[k].first != keyed[k - 1].first) of_rank.push_back(keyed[k].second);
        p.rank_of[keyed[k].second] = static_cast<std::uint16_t>(of_rank.size() - 1);
    }
    p.ranks = static_cast<std::uint32_t>(of_rank.size());
    return of_rank;
}

// The buckets (one per suffix string, in string order), where each starts, and
// what each rank deals into them.
void plan_buckets(const std::vector<int>& present, const std::vector<int>& of_rank, Plan& p) {
    p.keys.clear();
    for (int id : present)
        for (int skip = 0; skip <= p.spelling[id]->length; ++skip) p.keys.push_back(suffix_key(*p.spelling[id], skip));
    std::sort(p.keys.begin(), p.keys.end());
    p.keys.erase(std::unique(p.keys.begin(), p.keys.end()), p.keys.end());
    const std::size_t buckets = p.keys.size();
    std::vector<std::uint32_t> size(buckets, 0);
    for (int id : present)
        for (int skip = 0; skip <= p.spelling[id]->length; ++skip) size[bucket_of(p, suffix_key(*p.spelling[id], skip))] += p.count[id];
    p.next.assign(buckets + DEALT, 0);
    for (std::size_t b = 1; b < buckets; ++b) p.next[b] = p.next[b - 1] + size[b - 1];
    // The idle slots write past the block's letters.
    const std::uint32_t end = p.next[buckets - 1] + size[buckets - 1];
    for (int d = 0; d < DEALT; ++d) p.next[buckets + d] = end + d;

    p.deals.assign(p.ranks, {});
    p.last_letter.assign(p.ranks, 0);
    for (std::uint32_t r = 0; r < p.ranks; ++r) {
        const Token& t = *p.spelling[of_rank[r]];
        p.last_letter[r] = p.letter_of[t.length == 0 ? ' ' : static_cast<std::uint8_t>(t.digits[t.length - 1])];
        for (int d = 0; d < DEALT; ++d) {
            // Deal d is the suffix without the token's first d digits; the whole
            // token follows a space, a suffix the digit before it.
            if (d < t.length && t.length <= DEALT) {
                const std::uint8_t before = d == 0 ? ' ' : static_cast<std::uint8_t>(t.digits[d - 1]);
                p.deals[r][d] = {bucket_of(p, suffix_key(t, d)), p.letter_of[before], 1};
            } else {
                p.deals[r][d] = {static_cast<std::uint16_t>(buckets + d), 0, 0};
            }
        }
    }
}

// The one rotation that follows the wrap token, which may be longer than a
// value or empty: every suffix dealt one by one.
void deal_wrap(const Token& wrap, std::size_t x, std::uint8_t* letters, const Plan& p, std::uint8_t** next) {
    letters[p.next[0] + x] = p.last_letter[p.rank_of[WRAP]];
    for (int skip = 0; skip < wrap.length; ++skip) {
        const std::uint8_t before = skip == 0 ? ' ' : static_cast<std::uint8_t>(wrap.digits[skip - 1]);
        *next[bucket_of(p, suffix_key(wrap, skip))]++ = p.letter_of[before];
    }
}

// The deal, for values of at most `DEALS` digits, given the rank of the token
// before each rotation in order, and where the wrap token's turn comes.
template <int DEALS>
void deal(const std::uint16_t* before, std::size_t m, std::size_t wrap_turn, const DecimalBlock& block,
          std::uint8_t* letters, Plan& p) {
    std::uint8_t* empty_suffix = letters + p.next[0];
    std::vector<std::uint8_t*> next(p.next.size());
    for (std::size_t b = 0; b < next.size(); ++b) next[b] = letters + p.next[b];
    for (std::size_t x = 0; x < m; ++x) {
        if (x == wrap_turn) [[unlikely]] {
            deal_wrap(block.wrap, x, letters, p, next.data());
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
    Plan p;
    for (std::size_t k = 0; k < count; ++k) ++p.count[tokens[k]];
    p.count[WRAP] = 1;
    std::vector<int> present;
    for (int id = 0; id < TOKEN_KINDS; ++id) {
        if (p.count[id] == 0) continue;
        present.push_back(id);
        p.spelling[id] = id == WRAP ? &block.wrap : &VALUE_TOKENS[id];
    }

    // The space and the digits present, numbered in byte order.
    bool used[256] = {};
    used[' '] = true;
    for (int id : present)
        for (int j = 0; j < p.spelling[id]->length; ++j) used[static_cast<std::uint8_t>(p.spelling[id]->digits[j])] = true;
    Letters out;
    for (int b = 0; b < 256; ++b)
        if (used[b]) p.letter_of[b] = static_cast<std::uint8_t>(out.alphabet++);
    out.ranges = 1 + (out.alphabet > 1);  // the space's range, and the digits'

    const std::vector<int> of_rank = rank_tokens(present, p);
    plan_buckets(present, of_rank, p);

    // The token sequence read from the first value, the wrap token last.
    const std::size_t m = count + 1;
    ws.values.resize(m);
    std::uint16_t* values = ws.values.data();
    for (std::size_t k = 0; k < count; ++k) values[k] = p.rank_of[tokens[k]];
    values[count] = p.rank_of[WRAP];
    ws.order.resize(m);
    sort_rotations(values, static_cast<std::uint32_t>(m), p.ranks, ws.order.data(), ws.rotations);
    pool::checkpoint();

    // In the order of the rotation that follows, each token puts one letter in
    // the bucket of each of its suffixes ("" is the first bucket).
    // The rank of the token before each rotation, in order: one pass of
    // independent reads, which the deal then takes in sequence.
    ws.before.resize(m);
    std::size_t wrap_turn = 0;
    for (std::size_t x = 0; x < m; ++x) {
        const std::uint32_t following = ws.order[x];
        wrap_turn = following == 0 ? x : wrap_turn;
        ws.before[x] = values[following == 0 ? m - 1 : following - 1];
    }
    ws.letters.resize(block.length + DEALT);
    int longest = 0;
    for (int id : present) longest = std::max<int>(longest, id == WRAP ? 0 : VALUE_TOKENS[id].length);
    if (longest <= 1) {
        deal<1>(ws.before.data(), m, wrap_turn, block, ws.letters.data(), p);
    } else if (longest == 2) {
        deal<2>(ws.before.data(), m, wrap_turn, block, ws.letters.data(), p);
    } else {
        deal<DEALT>(ws.before.data(), m, wrap_turn, block, ws.letters.data(), p);
    }
    return out;
}

}  // namespace veltrane::bz2_length
