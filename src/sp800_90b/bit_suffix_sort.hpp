// Sorting one bucket of a bit string's suffixes (all sharing their first
// `depth` bits) from the bits packed 64 to a word: the packed string (n/8
// bytes) stays in cache, a suffix's next 64 bits are one word, and on varied
// data most suffixes are told apart by their first 80 bits. The sort yields
// its neighbours' common prefix lengths as it goes.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "sp800_90b/packed_suffixes.hpp"
#include "util/big_array.hpp"

namespace veltrane::sp800_90b {

// Thrown when sorting has compared more words than its budget allows: data too
// repetitive for comparison sorting.
struct TooRepetitive {};

// One worker's sorter, reused bucket after bucket (its buffers grow to the
// largest bucket's size).
class BitBucketSorter {
public:
    struct KeyedSuffix {
        std::uint64_t first;   // the next 64 bits
        std::uint32_t second;  // the position
    };

    // `largest`: the size of the largest range it will sort; `budget`: the
    // words it may compare in all its sorts. Its buffers are mappings of their
    // own where large (util::BigArray), so that their memory goes back to the
    // system when the sorter goes, not to the heap of the worker that ran it,
    // where the next estimator on another worker could not reuse it.
    BitBucketSorter(std::uint64_t largest, std::uint64_t budget);

    // Sorts sa[begin, end), suffixes sharing their first `depth` bits; then
    // the common prefix of the sorted suffixes i - 1 and i of the range
    // (0 < i < end - begin) is small()[i] if below LARGE, else the next of
    // large() (in order of i); the largest of them is longest(). Throws
    // TooRepetitive past the budget, pool::Cancelled when stopped.
    void sort(const PackedSuffixes& bits, std::uint32_t* sa, std::uint64_t begin, std::uint64_t end, std::uint64_t depth);

    // One byte a neighbour: a bucket of biased bits can hold most of them.
    static constexpr std::uint8_t LARGE = 255;
    const std::uint8_t* small() const { return small_.data(); }
    const std::vector<std::pair<std::uint32_t, std::uint32_t>>& large() const { return large_; }
    std::uint64_t longest() const { return longest_; }

    std::uint64_t words = 0;  // compared so far

private:
    void sort_range(const PackedSuffixes& bits, std::uint32_t* sa, std::uint64_t begin, std::uint64_t end, std::uint64_t depth);
    void record(std::uint64_t i, std::uint64_t l) {
        longest_ = l > longest_ ? l : longest_;
        const std::uint64_t at = i - bucket_begin_;
        if (l < LARGE) {
            small_[at] = static_cast<std::uint8_t>(l);
        } else {
            small_[at] = LARGE;
            large_.emplace_back(static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(l));
        }
    }
    void check_budget();

    util::BigArray<std::uint8_t> small_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> large_;  // (place, length), sorted after the sort
    util::BigArray<KeyedSuffix> keyed_, spare_;  // the ranges of cached keys
    std::uint64_t bucket_begin_ = 0, longest_ = 0, split_depth_ = 0, budget_;
};

}  // namespace veltrane::sp800_90b
