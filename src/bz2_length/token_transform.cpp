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

struct Entry {
    std::uint16_t bucket;
    std::uint8_t letter;
};

struct Plan {
    std::array<std::uint32_t, TOKEN_KINDS> count{};
    std::array<const Token*, TOKEN_KINDS> spelling{};
    std::array<std::uint16_t, TOKEN_KINDS> rank{};
    std::array<std::uint8_t, TOKEN_KINDS> entries{};
    std::array<std::array<Entry, LONGEST_TOKEN + 1>, TOKEN_KINDS> entry{};
    std::array<std::uint8_t, 256> letter_of{};
    std::uint32_t radix = 0;
    std::vector<std::uint32_t> bucket_start;
};

// Ranks the tokens present, in string order, equal spellings alike.
void rank_tokens(const std::vector<int>& present, Plan& p) {
    std::vector<std::pair<std::uint32_t, int>> keyed;
    for (int id : present) keyed.push_back({string_order_key(p.spelling[id]->digits, p.spelling[id]->length), id});
    std::sort(keyed.begin(), keyed.end());
    std::uint32_t rank = 0;
    for (std::size_t k = 0; k < keyed.size(); ++k) {
        if (k > 0 && keyed[k].first != keyed[k - 1].first) ++rank;
        p.rank[keyed[k].second] = static_cast<std::uint16_t>(rank);
    }
    p.radix = rank + 1;
}

// The buckets (one per suffix string, in string order), their sizes, and what
// each token deals into them.
void plan_buckets(const std::vector<int>& present, Plan& p) {
    std::vector<std::uint32_t> keys;
    for (int id : present) {
        const Token& t = *p.spelling[id];
        for (int s = 0; s <= t.length; ++s) keys.push_back(string_order_key(t.digits + s, t.length - s));
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    p.bucket_start.assign(keys.size() + 1, 0);
    for (int id : present) {
        const Token& t = *p.spelling[id];
        p.entries[id] = static_cast<std::uint8_t>(t.length + 1);
        for (int s = 0; s <= t.length; ++s) {
            const std::uint32_t key = string_order_key(t.digits + s, t.length - s);
            const auto bucket = static_cast<std::uint16_t>(std::lower_bound(keys.begin(), keys.end(), key) - keys.begin());
            const std::uint8_t before = s == 0 ? ' ' : static_cast<std::uint8_t>(t.digits[s - 1]);
            p.entry[id][s] = {bucket, p.letter_of[before]};
            p.bucket_start[bucket + 1] += p.count[id];
        }
    }
    for (std::size_t b = 0; b + 1 < p.bucket_start.size(); ++b) p.bucket_start[b + 1] += p.bucket_start[b];
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

    rank_tokens(present, p);
    plan_buckets(present, p);

    // The token sequence read from the first value, the wrap token last.
    const std::size_t m = count + 1;
    ws.values.resize(m);
    for (std::size_t k = 0; k < count; ++k) ws.values[k] = p.rank[tokens[k]];
    ws.values[count] = p.rank[WRAP];
    ws.order.resize(m);
    sort_rotations(ws.values.data(), static_cast<std::uint32_t>(m), p.radix, ws.order.data(), ws.rotations);
    pool::checkpoint();

    // Deal: in the order of the rotation that follows, each token puts one
    // letter in the bucket of each of its suffixes.
    ws.letters.resize(block.length);
    std::uint8_t* letters = ws.letters.data();
    std::uint32_t* next = p.bucket_start.data();
    for (std::size_t x = 0; x < m; ++x) {
        const std::uint32_t following = ws.order[x];
        const int id = following == 0 ? WRAP : tokens[following - 1];
        for (int e = 0; e < p.entries[id]; ++e) letters[next[p.entry[id][e].bucket]++] = p.entry[id][e].letter;
    }
    return out;
}

}  // namespace veltrane::bz2_length
