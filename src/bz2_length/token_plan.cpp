#include "bz2_length/token_plan.hpp"

#include <algorithm>

namespace veltrane::bz2_length {

namespace {

std::uint32_t suffix_key(const Token& t, int skip) { return string_order_key(t.digits + skip, t.length - skip); }

}  // namespace

std::uint16_t TokenPlan::bucket_of(const Token& t, int skip) const {
    return static_cast<std::uint16_t>(std::lower_bound(keys.begin(), keys.begin() + buckets, suffix_key(t, skip)) -
                                      keys.begin());
}

void TokenPlan::make(const std::uint16_t* tokens, std::size_t n, const DecimalBlock& block) {
    count.fill(0);
    for (std::size_t k = 0; k < n; ++k) ++count[tokens[k]];
    count[WRAP_TOKEN] = 1;
    std::array<std::uint16_t, TOKEN_KINDS> present;
    int kinds = 0;
    longest_value = 0;
    for (int id = 0; id < TOKEN_KINDS; ++id) {
        if (count[id] == 0) continue;
        present[kinds++] = static_cast<std::uint16_t>(id);
        spelling[id] = id == WRAP_TOKEN ? &block.wrap : &VALUE_TOKENS[id];
        if (id != WRAP_TOKEN) longest_value = std::max<int>(longest_value, spelling[id]->length);
    }

    // The space and the digits present, numbered in byte order.
    std::array<bool, 256> used{};
    used[' '] = true;
    for (int k = 0; k < kinds; ++k)
        for (int j = 0; j < spelling[present[k]]->length; ++j) used[static_cast<std::uint8_t>(spelling[present[k]]->digits[j])] = true;
    alphabet = 0;
    for (int b = 0; b < 256; ++b)
        if (used[b]) letter_of[b] = static_cast<std::uint8_t>(alphabet++);

    // Ranks in string order, equal spellings alike.
    std::array<std::pair<std::uint32_t, std::uint16_t>, TOKEN_KINDS> keyed;
    for (int k = 0; k < kinds; ++k) keyed[k] = {suffix_key(*spelling[present[k]], 0), present[k]};
    std::sort(keyed.begin(), keyed.begin() + kinds);
    std::array<std::uint16_t, TOKEN_KINDS> of_rank;  // a token of each rank
    ranks = 0;
    for (int k = 0; k < kinds; ++k) {
        if (k == 0 || keyed[k].first != keyed[k - 1].first) of_rank[ranks++] = keyed[k].second;
        rank_of[keyed[k].second] = static_cast<std::uint16_t>(ranks - 1);
    }

    // The buckets, in string order, and where each starts.
    std::array<std::uint32_t, TOKEN_KINDS * (LONGEST_TOKEN + 1)> all;
    int suffixes = 0;
    for (int k = 0; k < kinds; ++k)
        for (int skip = 0; skip <= spelling[present[k]]->length; ++skip) all[suffixes++] = suffix_key(*spelling[present[k]], skip);
    std::sort(all.begin(), all.begin() + suffixes);
    buckets = static_cast<int>(std::unique(all.begin(), all.begin() + suffixes) - all.begin());
    std::copy_n(all.begin(), buckets, keys.begin());
    std::array<std::uint32_t, MAX_BUCKETS> size{};
    for (int k = 0; k < kinds; ++k)
        for (int skip = 0; skip <= spelling[present[k]]->length; ++skip) size[bucket_of(*spelling[present[k]], skip)] += count[present[k]];
    std::uint32_t total = 0;
    for (int b = 0; b < buckets; ++b) next[b] = total, total += size[b];
    for (int d = 0; d < DEALT; ++d) next[buckets + d] = total + d;  // the idle slots write past the block

    for (std::uint32_t r = 0; r < ranks; ++r) {
        const Token& t = *spelling[of_rank[r]];
        last_letter[r] = letter_of[t.length == 0 ? ' ' : static_cast<std::uint8_t>(t.digits[t.length - 1])];
        for (int d = 0; d < DEALT; ++d) {
            // Deal d is the suffix without the token's first d digits; the whole
            // token follows a space, a suffix the digit before it.
            if (d < t.length && t.length <= DEALT) {
                const std::uint8_t before = d == 0 ? ' ' : static_cast<std::uint8_t>(t.digits[d - 1]);
                deals[r][d] = {bucket_of(t, d), letter_of[before], 1};
            } else {
                deals[r][d] = {static_cast<std::uint16_t>(buckets + d), 0, 0};
            }
        }
    }
}

}  // namespace veltrane::bz2_length
