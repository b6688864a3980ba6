// A set of positions as one bit each: n/8 bytes where a word per position
// would cost 32 or 64 times as much on corpora of hundreds of megabytes.
#pragma once

#include <atomic>
#include <bit>
#include <cstdint>
#include <utility>
#include <vector>

namespace veltrane::corpus {

class Bitset {
public:
    Bitset() = default;
    explicit Bitset(std::uint64_t size) : words_((size + 63) / 64, 0), size_(size) {}

    std::uint64_t size() const { return size_; }
    bool test(std::uint64_t p) const { return (words_[p >> 6] >> (p & 63)) & 1; }
    void set(std::uint64_t p) { words_[p >> 6] |= std::uint64_t{1} << (p & 63); }
    // For workers marking positions of one set at once.
    void set_shared(std::uint64_t p) {
        std::atomic_ref<std::uint64_t>(words_[p >> 6]).fetch_or(std::uint64_t{1} << (p & 63),
                                                                std::memory_order_relaxed);
    }
    // Sets [a, b).
    void set_range(std::uint64_t a, std::uint64_t b) {
        for (; a < b && (a & 63) != 0; ++a) set(a);
        for (; a + 64 <= b; a += 64) words_[a >> 6] = ~std::uint64_t{0};
        for (; a < b; ++a) set(a);
    }
    // Whether a position in [a, b) is set.
    bool any_in(std::uint64_t a, std::uint64_t b) const {
        if (a >= b) return false;
        const std::uint64_t first = a >> 6, last = (b - 1) >> 6;
        const std::uint64_t low = ~std::uint64_t{0} << (a & 63), high = ~std::uint64_t{0} >> (63 - ((b - 1) & 63));
        if (first == last) return (words_[first] & low & high) != 0;
        if (words_[first] & low) return true;
        for (std::uint64_t i = first + 1; i < last; ++i) {
            if (words_[i]) return true;
        }
        return (words_[last] & high) != 0;
    }
    // Adds every position of `other`, a set of the same size.
    void unite(const Bitset& other) {
        for (std::size_t i = 0; i < words_.size() && i < other.words_.size(); ++i) words_[i] |= other.words_[i];
    }
    // Keeps only the positions `other`, a set of the same size, holds too.
    void intersect(const Bitset& other) {
        for (std::size_t i = 0; i < words_.size(); ++i) words_[i] &= i < other.words_.size() ? other.words_[i] : 0;
    }
    // The words, 64 positions each, lowest first: what a set is sent as.
    const std::vector<std::uint64_t>& words() const { return words_; }
    static Bitset from_words(std::vector<std::uint64_t> words, std::uint64_t size) {
        Bitset set;
        words.resize((size + 63) / 64, 0);
        if (size & 63) words.back() &= ~std::uint64_t{0} >> (64 - (size & 63));  // nothing past the end
        set.words_ = std::move(words);
        set.size_ = size;
        return set;
    }
    // Calls f(p) for every set position, ascending.
    template <class F>
    void for_each(F&& f) const {
        for (std::uint64_t i = 0; i < words_.size(); ++i) {
            for (std::uint64_t w = words_[i]; w != 0; w &= w - 1) f(i * 64 + std::countr_zero(w));
        }
    }

private:
    std::vector<std::uint64_t> words_;
    std::uint64_t size_ = 0;
};

}  // namespace veltrane::corpus
