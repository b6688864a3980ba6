// A bit string packed 64 to a word, first bit highest, as the suffix sort of
// bits reads it: a suffix's next 64 bits are one word, and two suffixes compare
// a word at a time.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include "sp800_90b/packed_bits.hpp"

namespace veltrane::sp800_90b {

class PackedSuffixes {
public:
    // bits[0..n): 0 or 1 each.
    PackedSuffixes(const std::uint8_t* bits, std::uint64_t n) : n_(n), words_(n / 64 + 2, 0) {
        for (std::uint64_t w = 0; w * 64 < n; ++w) {
            const std::uint64_t first = w * 64;
            words_[w] = reversed_bits(pack_low_first(bits + first, static_cast<unsigned>(std::min<std::uint64_t>(64, n - first))));
        }
    }
    std::uint64_t size() const { return n_; }
    // Bits p..p+63, first bit highest; zeros past the end (the range splits
    // reach past it for suffixes shorter than their depth).
    std::uint64_t word_at(std::uint64_t p) const {
        if (p >= n_) return 0;
        const std::uint64_t w = p >> 6, r = p & 63;  // w + 1 <= n / 64 + 1
        return r == 0 ? words_[w] : (words_[w] << r) | (words_[w + 1] >> (64 - r));
    }
    // f(p, the first `width` bits of the suffix at p) for p = begin..end-1 in
    // order, zeros past the end: a word at a time, without word_at's tests.
    template <class F>
    void for_each_window(std::uint64_t begin, std::uint64_t end, unsigned width, F&& f) const {
        const unsigned drop = 64 - width;
        std::uint64_t p = begin;
        for (; p < end && (p & 63) != 0; ++p) f(p, word_at(p) >> drop);
        for (; p + 64 <= end; p += 64) {
            const std::uint64_t now = words_[p >> 6], next = words_[(p >> 6) + 1];
            f(p, now >> drop);
            for (unsigned r = 1; r < 64; ++r) f(p + r, ((now << r) | (next >> (64 - r))) >> drop);
        }
        for (; p < end; ++p) f(p, word_at(p) >> drop);
    }

    // The common prefix of the suffixes at a and b, from `from` bits on
    // (known equal before it); `words` counts the words compared.
    std::uint64_t common_prefix(std::uint64_t a, std::uint64_t b, std::uint64_t from, std::uint64_t& words) const {
        const std::uint64_t limit = n_ - std::max(a, b);
        std::uint64_t l = from;
        while (l < limit) {
            ++words;
            const std::uint64_t x = word_at(a + l) ^ word_at(b + l);
            if (x != 0) return std::min(limit, l + static_cast<std::uint64_t>(std::countl_zero(x)));
            l += 64;
        }
        return limit;
    }
    // Suffix order: a suffix that is a prefix of another sorts first.
    bool less(std::uint64_t a, std::uint64_t b, std::uint64_t from, std::uint64_t& words) const {
        const std::uint64_t l = common_prefix(a, b, from, words);
        if (l == n_ - std::max(a, b)) return a > b;  // the shorter one ended
        return (word_at(a + l) >> 63) < (word_at(b + l) >> 63);
    }

private:
    std::uint64_t n_;
    std::vector<std::uint64_t> words_;
};

}  // namespace veltrane::sp800_90b
